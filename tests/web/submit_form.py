#!/usr/bin/env python3
"""Submits the settings form the way a browser's form does, with Python's urllib: fetches the form,
takes every field's shown value, replaces those given as NAME=VALUE arguments, and sends the
"Save Changes" request URL-encoded. Usage: submit_form.py BASE_URL [NAME=VALUE ...].
Prints "saved" when the confirmation page came back."""
import html.parser
import sys
import urllib.parse
import urllib.request


class Fields(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.fields = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "input" and attrs.get("type", "").lower() == "text":
            self.fields.append([attrs["name"], attrs.get("value", "")])


def main():
    base, changes = sys.argv[1], dict(arg.split("=", 1) for arg in sys.argv[2:])
    form = Fields()
    form.feed(urllib.request.urlopen(base + "/RESULT?mode=+Settings+", timeout=60).read().decode("utf-8"))
    fields = [(name, changes.get(name, value)) for name, value in form.fields] + [("mode", "Save Changes")]
    page = urllib.request.urlopen(base + "/RESULT?" + urllib.parse.urlencode(fields), timeout=60).read()
    print("saved" if b"Changes made saved successfully" in page else "not saved")


if __name__ == "__main__":
    main()
