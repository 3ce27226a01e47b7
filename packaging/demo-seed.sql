-- Demo sites of Daemon ID "demo", added on the demo's first run: this host answers; a name under
-- .invalid never does, has no allowed down time and an e-mail contact, so its outage is notified
-- in the first scan.
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('LOCALHOST', 'This host', '127.0.0.1', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('GHOST', 'Nowhere', 'ghost.invalid', 0, 'noc@example.org', 2, 'Operator, Demo');
INSERT INTO operator (SurName, FirstName, email, ext, contactflag)
    VALUES ('Operator', 'Demo', 'demo@example.org', NULL, 0);
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'LOCALHOST');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'GHOST');
