"""Handler for a test mail server: stores each message's envelope and raw data in a directory.

Run as: python3 smtp_sink.py HOST DIRECTORY (DIRECTORY "-": every message is accepted and dropped)
It listens on HOST at a port the system chooses and prints "port N" once it listens.
Each message becomes DIRECTORY/NNNN.msg: the envelope sender, a line with the recipients
separated by blanks, then the message data exactly as received (dots unstuffed).
"""
import asyncio
import logging
import os
import sys


class Sink:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        if self.directory == "-":
            return "250 Message accepted"
        self.count += 1
        base = os.path.join(self.directory, "%04d" % self.count)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.mail_from.encode() + b"\n")
            f.write(" ".join(envelope.rcpt_tos).encode() + b"\n")
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".msg")
        return "250 Message accepted"


def serve(handler_class):
    """Serves handler_class(DIRECTORY) on HOST (the command line's two words) at a port the system
    chooses, and says which once it listens: the test reads that line before it goes on."""
    from aiosmtpd.smtp import SMTP

    logging.basicConfig(level=logging.ERROR)
    loop = asyncio.new_event_loop()
    handler = handler_class(sys.argv[2])
    server = loop.run_until_complete(loop.create_server(lambda: SMTP(handler), host=sys.argv[1], port=0))
    print("port", server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    serve(Sink)
