"""Mail server handler of the notification tests: stores messages like smtp_sink.Sink and refuses
every recipient whose mailbox starts with "refused" (550), as a server does for an unknown mailbox;
while a file named "refuse" exists in the directory it refuses every recipient for now (451), and
while one named "hold" exists it stores each message but holds back its reply (up to 30 s): the
client has delivered it and does not know it yet.

Run as: python3 notify_sink.py HOST DIRECTORY (with tests/net on PYTHONPATH): listens on HOST at a
port the system chooses and prints "port N" once it listens.
"""
import asyncio
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

    async def handle_DATA(self, server, session, envelope):
        reply = await super().handle_DATA(server, session, envelope)
        for _ in range(1500):
            if not os.path.exists(os.path.join(self.directory, "hold")):
                break
            await asyncio.sleep(0.02)
        return reply


if __name__ == "__main__":
    smtp_sink.serve(Sink)
