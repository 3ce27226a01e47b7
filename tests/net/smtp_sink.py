"""Handler for a test mail server: stores each message's envelope and raw data in a directory.

Run as: python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c smtp_sink.Sink DIRECTORY
Each message becomes DIRECTORY/NNNN.msg: the envelope sender, a line with the recipients
separated by blanks, then the message data exactly as received (dots unstuffed).
"""
import os


class Sink:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "%04d" % self.count)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.mail_from.encode() + b"\n")
            f.write(" ".join(envelope.rcpt_tos).encode() + b"\n")
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".msg")
        return "250 Message accepted"
