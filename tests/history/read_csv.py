"""Fetches a CSV report and reads it with the csv module, its byte-order mark as a spreadsheet takes it:
prints its content type, then one line per row, "column=value" joined by "|"."""
import csv
import io
import sys
import urllib.request

with urllib.request.urlopen(sys.argv[1], timeout=30) as response:
    content_type = response.headers["Content-Type"]
    text = response.read().decode("utf-8-sig")
print(content_type)
for row in csv.DictReader(io.StringIO(text, newline="")):
    print("|".join(f"{name}={value}" for name, value in row.items()))
