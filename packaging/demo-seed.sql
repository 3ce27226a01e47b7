-- Demo sites of Daemon ID "demo": fifteen loopback addresses that answer, and five names under
-- .invalid that never resolve (no echo request leaves this host). GHOST has no allowed down time
-- and an e-mail contact, so its outage is notified in the first scan; the others after 10 minutes.
-- Run again, it replaces the demo's rows.
DELETE FROM VKT WHERE VKTID = 'demo';
DELETE FROM site WHERE owner = 'Operator, Demo';
DELETE FROM operator WHERE SurName = 'Operator' AND FirstName = 'Demo';
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('LOCALHOST', 'This host', '127.0.0.1', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('CORE-SWITCH', 'Core switch', '127.0.1.10', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('MAIL-RELAY', 'Mail relay', '127.0.1.11', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('FILE-SERVER', 'File server', '127.0.1.12', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('PRINT-SERVER', 'Print server', '127.0.1.13', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('WEB-FRONT', 'Web front', '127.0.1.14', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('WEB-BACK', 'Web back', '127.0.1.15', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('DATABASE', 'Database', '127.0.1.16', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('BACKUP-NAS', 'Backup NAS', '127.0.1.17', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('VPN-GATEWAY', 'VPN gateway', '127.0.2.18', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('WIKI', 'Wiki', '127.0.2.19', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('BUILD-BOX', 'Build box', '127.0.2.20', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('TIME-SERVER', 'Time server', '127.0.2.21', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('CAMERA-HUB', 'Camera hub', '127.0.2.22', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('DOOR-PANEL', 'Door panel', '127.0.2.23', 5, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('GHOST', 'Nowhere', 'ghost.invalid', 0, 'noc@example.org', 2, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('BRANCH-RTR', 'Branch router', 'branch.invalid', 10, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('OLD-PBX', 'Old phone system', 'old-pbx.invalid', 10, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('LAB-AP', 'Lab access point', 'lab-ap.invalid', 10, NULL, 0, 'Operator, Demo');
INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner)
    VALUES ('KIOSK', 'Lobby kiosk', 'kiosk.invalid', 10, NULL, 0, 'Operator, Demo');
INSERT INTO operator (SurName, FirstName, email, ext, contactflag)
    VALUES ('Operator', 'Demo', 'demo@example.org', NULL, 0);
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'LOCALHOST');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'CORE-SWITCH');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'MAIL-RELAY');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'FILE-SERVER');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'PRINT-SERVER');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'WEB-FRONT');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'WEB-BACK');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'DATABASE');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'BACKUP-NAS');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'VPN-GATEWAY');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'WIKI');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'BUILD-BOX');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'TIME-SERVER');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'CAMERA-HUB');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'DOOR-PANEL');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'GHOST');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'BRANCH-RTR');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'OLD-PBX');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'LAB-AP');
INSERT INTO VKT (VKTID, sitecode) VALUES ('demo', 'KIOSK');
