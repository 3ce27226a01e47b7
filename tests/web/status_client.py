#!/usr/bin/env python3
"""Python's urllib against the admin port: fetches a path (with a Basic login when one is given)
and prints the status code, content type, whether Content-Length matches the body, and for JSON
the sites' codes in the order given. Usage: status_client.py URL [USER PASSWORD]"""
import json
import sys
import urllib.error
import urllib.request


def main():
    url = sys.argv[1]
    handlers = []
    if len(sys.argv) > 3:
        auth = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        auth.add_password(None, url, sys.argv[2], sys.argv[3])
        handlers.append(urllib.request.HTTPBasicAuthHandler(auth))
    opener = urllib.request.build_opener(*handlers)
    try:
        with opener.open(url, timeout=60) as reply:
            body = reply.read()
            status, headers = reply.status, reply.headers
    except urllib.error.HTTPError as error:
        body, status, headers = error.read(), error.code, error.headers
    length_ok = headers.get("Content-Length") == str(len(body))
    line = f"{status} {headers.get('Content-Type')} length {'ok' if length_ok else 'WRONG'}"
    if headers.get("Content-Type") == "application/json":
        data = json.loads(body)
        line += " sites " + ",".join(f"{s['code']}:{s['state']}" for s in data["sites"])
    print(line)


if __name__ == "__main__":
    main()
