"""Webhook receiver that takes every POST and never answers: it reads each request whole, stores its
body as DIRECTORY/NNNN.json and holds the connection open until the client goes away. It binds a port
of its own on 127.0.0.1 and prints "port N" once it listens.

Run as: python3 webhook_mute.py DIRECTORY
"""
import itertools
import os
import socket
import sys
import threading

numbers = itertools.count(1)
lock = threading.Lock()


def serve(conn):
    with conn:
        stream = conn.makefile("rb")
        length = 0
        for line in stream:
            if line in (b"\r\n", b"\n"):
                break
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value)
        body = stream.read(length)
        with lock:
            base = os.path.join(sys.argv[1], "%04d" % next(numbers))
        with open(base + ".tmp", "wb") as f:
            f.write(body)
        os.rename(base + ".tmp", base + ".json")
        while conn.recv(4096):
            pass


server = socket.create_server(("127.0.0.1", 0))
print("port", server.getsockname()[1], flush=True)
while True:
    client, _ = server.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
