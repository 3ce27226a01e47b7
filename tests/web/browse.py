#!/usr/bin/env python3
"""Drives headless Chromium over its debugging pipe through the web administration: loads the main
page, clicks "View Log" and " Settings ", submits the form unchanged (vkt.ini must stay byte for
byte), then changes the Daemon ID and submits "Save Changes" again, and keeps a screenshot.
Usage: browse.py URL SCREENSHOT NEW_DAEMON_ID VKT_INI. Exit 0 when every page showed."""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage", "--remote-debugging-pipe"]


class Browser:
    def __init__(self, profile):
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()

        def pipes():  # the debugging pipe is fd 3 (commands in) and fd 4 (replies out)
            commands, replies = os.dup(to_chrome_r), os.dup(from_chrome_w)  # off 3 and 4 first
            os.dup2(commands, 3)
            os.dup2(replies, 4)

        self.proc = subprocess.Popen(["chromium", *FLAGS, "--user-data-dir=" + profile, "about:blank"],
                                     preexec_fn=pipes, close_fds=False, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def post(self, method, params=None):
        """Sends a command without waiting for its reply (one that a dialog holds, say)."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.to_chrome, json.dumps(message).encode() + b"\0")

    def send(self, method, params=None, timeout=60):
        self.post(method, params)
        deadline = time.time() + timeout
        while time.time() < deadline:
            reply = self.read()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)
        raise TimeoutError(method)

    def read(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.from_chrome, 65536)
            if not chunk:
                raise RuntimeError("chromium closed its debugging pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def wait_load(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            while self.events:
                if self.events.pop(0).get("method") == "Page.loadEventFired":
                    return
            self.events.append(self.read())
        raise TimeoutError("page load")

    def evaluate(self, expression, wait_promise=False, timeout=60):
        params = {"expression": expression, "returnByValue": True, "awaitPromise": wait_promise}
        return self.send("Runtime.evaluate", params, timeout)["result"].get("value")

    def click(self, selector):
        self.events.clear()
        self.evaluate(f"document.querySelector('{selector}').click()")
        self.wait_load()

    def open_tab(self, width=None, height=None):
        """Opens a tab and attaches to it; the page's load events reach `events` from then on."""
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.send("Page.enable")
        if width:
            self.send("Emulation.setDeviceMetricsOverride",
                      {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def navigate(self, url, timeout=60):
        self.events.clear()
        self.send("Page.navigate", {"url": url})
        self.wait_load(timeout)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def main():
    url, screenshot, new_id, ini = sys.argv[1:5]
    profile = tempfile.mkdtemp(prefix="vkt-chromium-")
    browser = Browser(profile)
    try:
        browser.open_tab()
        browser.navigate(url)
        checks = [("main page", browser.evaluate("document.title") == "Sentrova VKT")]
        browser.click('input[value="View Log"]')
        checks.append(("log view", "[SYSINIT]" in browser.evaluate("document.body.innerText")))
        browser.click('input[value=" Settings "]')
        checks.append(("settings form", browser.evaluate("document.querySelector('input[name=VKTID]').value") != ""))
        with open(ini, "rb") as f:
            before = f.read()
        browser.click('input[value="Save Changes"]')
        with open(ini, "rb") as f:
            checks.append(("unchanged save keeps vkt.ini", f.read() == before))
        browser.click('input[value=" Settings "]')
        browser.evaluate(f"document.querySelector('input[name=VKTID]').value = {json.dumps(new_id)}")
        browser.click('input[value="Save Changes"]')
        checks.append(("save", "Changes made saved successfully" in browser.evaluate("document.body.innerText")))
        shot = browser.send("Page.captureScreenshot", {"format": "png"})["data"]
        with open(screenshot, "wb") as out:
            out.write(base64.b64decode(shot))
        for name, ok in checks:
            print(("ok   " if ok else "FAIL ") + name)
        return 0 if all(ok for _, ok in checks) else 1
    finally:
        browser.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
