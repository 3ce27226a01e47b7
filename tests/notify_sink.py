"""Mail server handler of the notification tests: stores messages like smtp_sink.Sink and refuses
every recipient whose mailbox starts with "refused" (550), as a server does for an unknown mailbox.

Run as: python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c notify_sink.Sink DIRECTORY
(with tests/net and tests on PYTHONPATH).
"""
import smtp_sink


class Sink(smtp_sink.Sink):
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"
