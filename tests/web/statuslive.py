#!/usr/bin/env python3
"""Checks the status page in headless Chromium as an operator meets it: it fits 1,400 and 390 pixels
without sideways scrolling, axe-core finds nothing serious or critical, "End now" asks first (the
question is dismissed and nothing is sent), a refresh leaves a field with something typed in it alone
and swaps the page in once the field is back as it came.
Usage: statuslive.py URL SCREENSHOT_PREFIX AXE_JS. Prints one line a check."""
import base64
import shutil
import sys
import tempfile
import time

from browse import Browser


def evaluate(browser, expression):
    return browser.evaluate(expression, wait_promise=True, timeout=120)


def fits(browser, url, width, shot):
    browser.send("Emulation.setDeviceMetricsOverride",
                 {"width": width, "height": 900, "deviceScaleFactor": 1, "mobile": width < 600})
    browser.navigate(url)
    data = browser.send("Page.captureScreenshot", {"format": "png"}, timeout=60)["data"]
    with open(shot, "wb") as out:
        out.write(base64.b64decode(data))
    wide = evaluate(browser, "document.documentElement.scrollWidth")
    return "yes" if wide <= width else f"no ({wide} px)"


def axe(browser, script):
    with open(script, encoding="utf-8") as f:
        evaluate(browser, f.read())
    found = evaluate(browser, "axe.run(document,{resultTypes:['violations']}).then(r=>r.violations"
                              ".filter(v=>v.impact==='serious'||v.impact==='critical')"
                              ".map(v=>v.id+' '+v.nodes.length))")
    return "no serious or critical finding" if not found else ", ".join(found)


def asks_before_ending(browser):
    """Clicks "End now" and dismisses the question: the page must stay, with the window listed."""
    browser.post("Runtime.evaluate", {"expression": "document.querySelector('form[data-confirm] button').click()"})
    asked = None
    deadline = time.time() + 30
    while time.time() < deadline:
        event = browser.read()
        if event.get("method") == "Page.javascriptDialogOpening":
            asked = event["params"]["message"]
            browser.send("Page.handleJavaScriptDialog", {"accept": False})
            break
    time.sleep(1)
    still = evaluate(browser, "document.querySelectorAll('form[data-confirm]').length")
    return f"asked \"{asked}\", {still} window still listed"


def refresh_spares_typing(browser):
    evaluate(browser, "document.querySelector('main').vktOld=true;"
                      "document.querySelector('input[name=q]').value='typed'")
    time.sleep(14)  # past one refresh interval of 10 s
    kept = evaluate(browser, "document.querySelector('main').vktOld===true&&"
                             "document.querySelector('input[name=q]').value==='typed'")
    evaluate(browser, "document.querySelector('input[name=q]').value=''")
    swapped = False
    for _ in range(30):
        time.sleep(1)
        if evaluate(browser, "document.querySelector('main').vktOld!==true"):
            swapped = True
            break
    return ("typed text kept" if kept else "typed text lost") + ", " + ("refreshed when idle" if swapped
                                                                         else "not refreshed")


def main():
    url, shots, axe_js = sys.argv[1:4]
    profile = tempfile.mkdtemp(prefix="vkt-chromium-")
    browser = Browser(profile)
    try:
        browser.open_tab(1400, 900)
        print("fits 390 px:", fits(browser, url, 390, shots + "-390.png"))
        print("fits 1400 px:", fits(browser, url, 1400, shots + "-1400.png"))
        print("axe:", axe(browser, axe_js))
        print("end now:", asks_before_ending(browser))
        print("refresh:", refresh_spares_typing(browser))
        return 0
    finally:
        browser.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
