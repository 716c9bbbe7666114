#!/usr/bin/env python3
"""Headless Chromium against the web pages of the running process.

Starts linewarden-proc with the demo settings ("chkWWWHttpHeaders" on) in a
home of its own holding two listed calls, one with a recording, then drives
Chromium through chromedriver (W3C WebDriver over HTTP, standard library
only): the calls page renders its rows, the recording's link downloads the
recording and its audio element plays it, and the options form changes a
setting. A screenshot of the calls page is kept under the artifacts folder.
Ends with 77 (skipped) when chromium or chromedriver is not installed.
"""
import argparse
import base64
import json
import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import wave

DAY = "\\Data\\Log\\2005\\03\\15\\"
RECORDING = "Alice_5551234_03-15-2005_10-15-30.wav"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def record(call_type, name, number):
    """A 467-byte stored call of 15 March 2005 10:15:30."""
    def field(text, width):
        return text.encode().ljust(width, b" ")
    return (b"0" + b"\0" + field(call_type, 2) + field(name, 32) +
            field(number, 32) + field("03/15/2005", 50) +
            field("10:15:30", 16) + field("0:00:01", 10) + field("0", 2) +
            b"0" + field("Incoming Call", 64) + b"\0" * 256)


def wait_for(check, limit=15.0):
    end = time.time() + limit
    while time.time() < end:
        if check():
            return True
        time.sleep(0.1)
    return False


def page_replaced(wd):
    try:
        return wd.js("return window.lwBeforeSubmit === undefined &&"
                     " document.readyState === 'complete';") is True
    except Exception:  # the page is being replaced
        return False


class WebDriver:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"
        self.session = None

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=60) as r:
            return json.loads(r.read())["value"]

    def start(self, chromium):
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {
                "binary": chromium,
                "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--window-size=1000,800",
                         "--autoplay-policy=no-user-gesture-required"]}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def s(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def go(self, url):
        self.s("POST", "/url", {"url": url})

    def js(self, script, *args):
        return self.s("POST", "/execute/sync", {"script": script, "args": list(args)})

    def js_async(self, script, *args):
        return self.s("POST", "/execute/async", {"script": script, "args": list(args)})

    def click(self, css):
        el = self.s("POST", "/element", {"using": "css selector", "value": css})
        self.s("POST", f"/element/{list(el.values())[0]}/click", {})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.s("GET", "/screenshot")))

    def quit(self):
        if self.session:
            try:
                self.call("DELETE", f"/session/{self.session}")
            except OSError:
                pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--artifacts", required=True)
    a = ap.parse_args()
    chromium = shutil.which("chromium")
    chromedriver = shutil.which("chromedriver")
    if not chromium or not chromedriver:
        print("chromium or chromedriver is not installed: skipped")
        return 77
    os.makedirs(a.artifacts, exist_ok=True)

    tmp = tempfile.mkdtemp(prefix="lwbrowser-")
    home, run = os.path.join(tmp, "home"), os.path.join(tmp, "run")
    day = os.path.join(home, "Data/Log/2005/03/15")
    os.makedirs(os.path.join(home, "Journal"))
    os.makedirs(day)
    with open(os.path.join(day, "Data"), "wb") as f:
        f.write(record("2", "Alice", "5551234") + record("0", "Bob & Co", "5550001") +
                record("3", "Carol", "5550002"))
    with open(os.path.join(home, "Data/Last"), "wb") as f:
        f.write(f"1:{DAY}\r\n2:{DAY}\r\n3:{DAY}\r\n".encode())
    # A GSM 6.10 recording (format tag 0x31), which browsers cannot play.
    with open(os.path.join(day, "Carol_5550002_03-15-2005_10-15-30.wav"), "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 60) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 20, 0x31, 1, 8000, 1625, 65, 0) + b"\0" * 32)
    with wave.open(os.path.join(day, RECORDING), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 8)))
                               for i in range(8000)))
    recording_size = os.path.getsize(os.path.join(day, RECORDING))

    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LINEWARDEN_") and k != "NOTIFY_SOCKET"}
    env.update(LINEWARDEN_HOME=home, LINEWARDEN_RUNTIME=run)
    web_port = free_port()

    def lwdctl(*args):
        return subprocess.run([os.path.join(a.bin, "lwdctl"), *args], env=env,
                              check=True, capture_output=True, text=True).stdout.strip()

    web = "RemoteAccess\\TabInternetAccess"
    lwdctl("reg", "import", os.path.join(a.source, "demo/linewarden-demo.reg"))
    lwdctl("reg", "set", "Properties\\TabDevices", "cmbSoundDev", "null")
    lwdctl("reg", "set", web, "txtWWWPort", str(web_port))
    lwdctl("reg", "set", web, "chkWWWHttpHeaders", "1")

    proc = subprocess.Popen([os.path.join(a.bin, "linewarden-proc")], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    driver_port = free_port()
    driver = subprocess.Popen([chromedriver, f"--port={driver_port}"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    wd = WebDriver(driver_port)
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    try:
        def listening(port):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return False
        if not wait_for(lambda: listening(web_port)) or not wait_for(
                lambda: listening(driver_port)):
            print("FAIL the process or chromedriver did not start")
            return 1
        wd.start(chromium)
        site = f"http://127.0.0.1:{web_port}/"

        wd.go(site)
        rows = wd.js("return [...document.querySelectorAll('tr')].filter("
                     "r => r.querySelector('a[href^=\"/del?call=\"]'))"
                     ".map(r => [...r.cells].map(c => c.innerText.trim()));")
        check(len(rows) == 3, f"three call rows rendered: {rows}")
        check(rows and rows[0][0].startswith("Message") and rows[0][3] == "Alice",
              "first row: a message from Alice")
        check(len(rows) > 1 and rows[1][0] == "...." and rows[1][3] == "Bob & Co",
              "second row: an empty call, its name shown as text")
        players = wd.js("return [document.querySelectorAll('audio').length,"
                        " [...document.querySelectorAll('a[download]')].map(a => a.innerText)];")
        check(players == [1, ["Record In"]],
              f"a player for the PCM recording, a download for the GSM one: {players}")
        wd.screenshot(os.path.join(a.artifacts, "web_calls_page.png"))

        link = wd.js("return document.querySelector('a[href^=\"messages\"]').href;")
        fetched = wd.js_async(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0]).then(r => r.arrayBuffer().then(b =>"
            " done([r.status, r.headers.get('content-type'), b.byteLength])))"
            ".catch(e => done(String(e)));", link)
        check(fetched == [200, "audio/wav", recording_size],
              f"the message link downloads the recording: {fetched}")
        played = wd.js_async(
            "const done = arguments[arguments.length - 1];"
            "const a = document.querySelector('audio'); a.muted = true;"
            "a.play().then(() => setTimeout(() => done([a.duration, a.currentTime,"
            " a.error && a.error.code]), 300)).catch(e => done(String(e)));")
        check(isinstance(played, list) and abs(played[0] - 1.0) < 0.05 and
              played[1] > 0, f"the audio element plays the recording: {played}")

        wd.go(site + "Options")
        wd.js("document.querySelector('select[name=NumOfRings]').value = '7';"
              "document.querySelector('select[name=RunAnsweringMachine]').value = 'Off';"
              "window.lwBeforeSubmit = true;")
        wd.click("input[type=submit]")
        check(wait_for(lambda: lwdctl("reg", "get", "Answer\\TabAnsweringMachine",
                                      "txtNumOfRing") == "7"),
              "the options form stores the number of rings")
        check(lwdctl("reg", "get", "Answer\\TabAnsweringMachine",
                     "chkRunAnsIfNotAnswered") == "0",
              "the options form switches the answering machine off")
        # The value the script set stays on the old page: read it from the
        # page the server sends back (a new document has no marker).
        check(wait_for(lambda: page_replaced(wd)), "the options page comes back")
        shown = wd.js("return document.querySelector('select[name=NumOfRings]').value;")
        check(shown == "7", f"the page comes back with the stored value: {shown}")

        wd.go(site + "Journal")
        wd.click("input[type=submit]")

        def journal_shown():
            # The click only starts the navigation: ask until the chosen file
            # is on the page (or the old page is still there).
            try:
                text = wd.js("const t = document.querySelector('textarea');"
                             " return t ? t.value : '';")
            except Exception:  # the page is being replaced
                return False
            return "Opening Linewarden 1.0 Process" in (text or "")
        check(wait_for(journal_shown), "the journal chooser shows the chosen file")
    finally:
        wd.quit()
        for p in (driver, proc):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
