"""HTTP receiver of the webhook tests: stores the body of every POST as DIRECTORY/NNNN.json and
answers 204; while a file named "fail" exists in the directory it answers 503 and stores nothing;
while a file named "hold" exists it stores the request and holds its answer until the file goes.
A PUT is taken as a POST; the request line and headers of each go to DIRECTORY/NNNN.head.
With an UPSTREAM base URL each request is passed on to it first (same method, path, content type
and body) and answered with its status: a receiver of its own in front of a real one.

Run as: python3 webhook_sink.py PORT DIRECTORY [UPSTREAM]
With PORT 0 the system chooses the port; either way it prints "port N" once it listens.
"""
import http.server
import os
import sys
import time
import urllib.error
import urllib.request


def passed_on(method, path, content_type, body):
    request = urllib.request.Request(sys.argv[3].rstrip("/") + path, data=body, method=method)
    request.add_header("Content-Type", content_type)
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status
    except urllib.error.HTTPError as e:
        return e.code


class Handler(http.server.BaseHTTPRequestHandler):
    count = 0

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if os.path.exists(os.path.join(sys.argv[2], "fail")):
            self.send_response(503)
            self.end_headers()
            return
        status = 204
        if len(sys.argv) > 3:
            status = passed_on(self.command, self.path, self.headers.get("Content-Type", ""), body)
        Handler.count += 1
        base = os.path.join(sys.argv[2], "%04d" % Handler.count)
        with open(base + ".tmp", "wb") as f:
            f.write(self.headers.get("Content-Type", "").encode() + b"\n" + body)
        with open(base + ".head", "w") as f:
            f.write(self.command + " " + self.path + "\n" + str(self.headers))
        os.rename(base + ".tmp", base + ".json")
        while os.path.exists(os.path.join(sys.argv[2], "hold")):
            time.sleep(0.05)
        self.send_response(status)
        self.end_headers()

    do_PUT = do_POST

    def log_message(self, *args):
        pass

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the sender went away while its answer was held


server = http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
print("port", server.server_address[1], flush=True)
server.serve_forever()
