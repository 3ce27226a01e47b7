"""HTTP receiver of the webhook tests: stores the body of every POST as DIRECTORY/NNNN.json and
answers 204; while a file named "fail" exists in the directory it answers 503 and stores nothing.
A PUT is taken as a POST; the request line and headers of each go to DIRECTORY/NNNN.head.

Run as: python3 webhook_sink.py PORT DIRECTORY
With PORT 0 the system chooses the port; either way it prints "port N" once it listens.
"""
import http.server
import os
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    count = 0

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if os.path.exists(os.path.join(sys.argv[2], "fail")):
            self.send_response(503)
            self.end_headers()
            return
        Handler.count += 1
        base = os.path.join(sys.argv[2], "%04d" % Handler.count)
        with open(base + ".tmp", "wb") as f:
            f.write(self.headers.get("Content-Type", "").encode() + b"\n" + body)
        with open(base + ".head", "w") as f:
            f.write(self.command + " " + self.path + "\n" + str(self.headers))
        os.rename(base + ".tmp", base + ".json")
        self.send_response(204)
        self.end_headers()

    do_PUT = do_POST

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
print("port", server.server_address[1], flush=True)
server.serve_forever()
