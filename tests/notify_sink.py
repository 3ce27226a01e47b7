"""Mail server handler of the notification tests: stores messages like smtp_sink.Sink and refuses
every recipient whose mailbox starts with "refused" (550), as a server does for an unknown mailbox;
while a file named "refuse" exists in the directory it refuses every recipient for now (451).

Run as: python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c notify_sink.Sink DIRECTORY
(with tests/net and tests on PYTHONPATH).
"""
import os

import smtp_sink


class Sink(smtp_sink.Sink):
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if os.path.exists(os.path.join(self.directory, "refuse")):
            return "451 4.3.0 Mail system busy, try again later"
        if address.startswith("refused"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"
