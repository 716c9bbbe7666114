#!/usr/bin/env python3
"""Headless Chromium against the web pages of the running process.

What only a browser shows: that the calls page renders a row per call, that
its audio element plays a PCM recording while a GSM one is offered for
download, that the recording's link downloads it with its type, and that the
options form submits what the server expects and shows what it stored; and
the owner's page "/app/" on a 390x844 phone viewport: no horizontal
scrolling, a UTF-8-named message and a GSM 6.10 one play to their end,
playing marks heard in the store, a new call appears without a reload, and
delete removes exactly the call on screen and its recording. Starts
linewarden-proc with the demo settings ("chkWWWHttpHeaders" on) in a home of
its own and drives Chromium through chromedriver (W3C WebDriver over HTTP,
standard library only). A screenshot of the calls page is kept under the
artifacts folder. Ends with 77 (skipped) when chromium or chromedriver is not
installed.
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
import urllib.error
import urllib.request
import wave

DAY = "\\Data\\Log\\2005\\03\\15\\"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def record(call_type, name):
    """A 467-byte stored call of 15 March 2005 10:15:30."""
    def field(text, width):
        return text.encode().ljust(width, b" ")
    return (b"0\0" + field(call_type, 2) + field(name, 32) + field("5551234", 32) +
            field("03/15/2005", 50) + field("10:15:30", 16) + field("0:00:01", 10) +
            field("0", 2) + b"0" + field("Incoming Call", 64) + b"\0" * 256)


def wait_for(check, limit=15.0):
    end = time.time() + limit
    while time.time() < end:
        try:
            if check():
                return True
        except (OSError, RuntimeError):  # not up yet, or the page is being replaced
            pass
        time.sleep(0.1)
    return False


class WebDriver:
    def __init__(self, port):
        self.base, self.session = f"http://127.0.0.1:{port}", ""

    def call(self, method, path, body=None):
        req = urllib.request.Request(
            self.base + self.session + path, method=method,
            data=None if body is None else json.dumps(body).encode(),
            headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.loads(r.read())["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError(e.read()) from e

    def js(self, script, *args, run="sync"):
        return self.call("POST", f"/execute/{run}", {"script": script, "args": list(args)})

    def click(self, css):
        el = self.call("POST", "/element", {"using": "css selector", "value": css})
        self.call("POST", f"/element/{list(el.values())[0]}/click", {})


def main():
    ap = argparse.ArgumentParser()
    for name in ("--bin", "--source", "--artifacts"):
        ap.add_argument(name, required=True)
    a = ap.parse_args()
    chromium, chromedriver = shutil.which("chromium"), shutil.which("chromedriver")
    if not chromium or not chromedriver:
        print("chromium or chromedriver is not installed: skipped")
        return 77
    os.makedirs(a.artifacts, exist_ok=True)

    tmp = tempfile.mkdtemp(prefix="lwbrowser-")
    home = os.path.join(tmp, "home")
    day = os.path.join(home, "Data/Log/2005/03/15")
    os.makedirs(os.path.join(home, "Journal"))
    os.makedirs(day)
    with open(os.path.join(day, "Data"), "wb") as f:
        f.write(record("2", "Alice") + record("0", "Bob & Co") + record("3", "Carol"))
    with open(os.path.join(home, "Data/Last"), "wb") as f:
        f.write(f"1:{DAY}\r\n2:{DAY}\r\n3:{DAY}\r\n".encode())
    # A GSM 6.10 recording (format tag 0x31), which browsers cannot play.
    subprocess.run(["sox", "-n", "-r", "8000", "-e", "gsm-full-rate",
                    os.path.join(day, "Carol_5551234_03-15-2005_10-15-30.wav"),
                    "synth", "1", "sine", "440"], check=True)
    def pcm(name):
        path = os.path.join(day, f"{name}_5551234_03-15-2005_10-15-30.wav")
        with wave.open(path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(8000)
            w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 8)))
                                   for i in range(8000)))
        return path

    def store_call(call_type, name):
        """Appends a record and puts it at the head of the list, as the line does."""
        with open(os.path.join(day, "Data"), "ab") as f:
            f.write(record(call_type, name))
            number = f.tell() // 467
        last = os.path.join(home, "Data/Last")
        with open(last + ".tmp", "wb") as f:
            f.write(f"{number}:{DAY}\r\n".encode() + open(last, "rb").read())
        os.rename(last + ".tmp", last)
        return f"20050315-{number}"

    recording = pcm("Alice")

    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LINEWARDEN_") and k != "NOTIFY_SOCKET"}
    env.update(LINEWARDEN_HOME=home, LINEWARDEN_RUNTIME=os.path.join(tmp, "run"))
    web_port, driver_port = free_port(), free_port()

    def lwdctl(*args):
        return subprocess.run([os.path.join(a.bin, "lwdctl"), *args], env=env,
                              check=True, capture_output=True, text=True).stdout.strip()

    def setting(name):
        return lwdctl("reg", "get", "Answer\\TabAnsweringMachine", name)

    web = "RemoteAccess\\TabInternetAccess"
    lwdctl("reg", "import", os.path.join(a.source, "demo/linewarden-demo.reg"))
    lwdctl("reg", "set", "Properties\\TabDevices", "cmbSoundDev", "null")
    lwdctl("reg", "set", web, "txtWWWPort", str(web_port))
    lwdctl("reg", "set", web, "chkWWWHttpHeaders", "1")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.STDOUT}
    procs = [subprocess.Popen([os.path.join(a.bin, "linewarden-proc")], env=env, **quiet),
             subprocess.Popen([chromedriver, f"--port={driver_port}"], **quiet)]
    wd = WebDriver(driver_port)
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    try:
        for port in (web_port, driver_port):
            if not wait_for(lambda: socket.create_connection(("127.0.0.1", port), 1).close()
                            is None):
                print("FAIL the process or chromedriver did not start")
                return 1
        wd.session = "/session/" + wd.call("POST", "/session", {"capabilities": {
            "alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
                "binary": chromium,
                "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--window-size=1000,800",
                         "--autoplay-policy=no-user-gesture-required"]}}}})["sessionId"]
        site = f"http://127.0.0.1:{web_port}/"

        wd.call("POST", "/url", {"url": site})
        rows = wd.js("return [...document.querySelectorAll('tr')].filter("
                     "r => r.querySelector('a[href^=\"/del?call=\"]'))"
                     ".map(r => [...r.cells].map(c => c.innerText.trim()));")
        check([r[3] for r in rows] == ["Alice", "Bob & Co", "Carol"],
              f"a row per call, names shown as text: {rows}")
        players = wd.js("return [document.querySelectorAll('audio').length,"
                        " [...document.querySelectorAll('a[download]')].map(a => a.innerText)];")
        check(players == [1, ["Record In"]],
              f"a player for the PCM recording, a download for the GSM one: {players}")
        with open(os.path.join(a.artifacts, "web_calls_page.png"), "wb") as f:
            f.write(base64.b64decode(wd.call("GET", "/screenshot")))
        fetched = wd.js(
            "const done = arguments[arguments.length - 1];"
            "fetch(document.querySelector('a[href^=\"messages\"]').href).then(r =>"
            " r.arrayBuffer().then(b => done([r.status, r.headers.get('content-type'),"
            " b.byteLength]))).catch(e => done(String(e)));", run="async")
        check(fetched == [200, "audio/wav", os.path.getsize(recording)],
              f"the message link downloads the recording: {fetched}")
        played = wd.js(
            "const done = arguments[arguments.length - 1];"
            "const a = document.querySelector('audio'); a.muted = true;"
            "a.play().then(() => setTimeout(() => done([a.duration, a.currentTime]), 300))"
            ".catch(e => done(String(e)));", run="async")
        check(isinstance(played, list) and abs(played[0] - 1.0) < 0.05 and played[1] > 0,
              f"the audio element plays the recording: {played}")

        wd.call("POST", "/url", {"url": site + "Options"})
        form = {"NumOfRings": "7", "RunAnsweringMachine": "Off",
                "RunCallRecordWare": "Off", "GetMessages": "No"}
        wd.js("for (const [n, v] of Object.entries(arguments[0]))"
              " document.querySelector(`select[name=${n}]`).value = v;", form)
        wd.click("input[type=submit]")
        check(wait_for(lambda: setting("txtNumOfRing") == "7") and
              [setting("chkRunAnsIfNotAnswered"), setting("cmdRecordMessage"),
               lwdctl("reg", "get", "Answer\\TabCallsRecord", "chkDetectPickUp")]
              == ["0", "0", "0"], "the options form stores its four settings")
        shown = wd.js("return Object.fromEntries([...document.querySelectorAll("
                      "'select')].map(s => [s.name, s.value]));")
        check(shown == form, f"the answer shows the stored choices: {shown}")

        zoe = "Zo\u00eb \u00c5ngstr\u00f6m \u738b"
        pcm(zoe)
        zoe_id = store_call("2", zoe)
        wd.call("POST", "/url", {"url": site})
        href = wd.js("return [...document.querySelectorAll('a[href^=\"messages\"]')]"
                     ".map(a => a.href).find(h => h.includes('Zo%C3%AB'));")
        got = wd.js("const done = arguments[arguments.length - 1];"
                    "fetch(arguments[0]).then(r => done(r.status));", href, run="async")
        check(got == 200, f"the old page's link to a UTF-8 name's recording: {href} {got}")
        wd.call("POST", "/goog/cdp/execute", {
            "cmd": "Emulation.setDeviceMetricsOverride", "params": {
                "width": 390, "height": 844, "deviceScaleFactor": 3, "mobile": True}})
        wd.call("POST", "/url", {"url": site + "app/"})
        row_names = "return [...document.querySelectorAll('li .who')].map(e => e.textContent);"
        check(wait_for(lambda: wd.js(row_names) == [zoe, "Alice", "Bob & Co", "Carol"]),
              f"the page lists the calls newest first: {wd.js(row_names)}")
        layout = wd.js("window.kept = 1; return [innerWidth, document.documentElement"
                       ".scrollWidth, document.title];")
        check(layout == [390, 390, "(2) Calls"],
              f"390 px wide without horizontal scrolling, new messages counted: {layout}")
        with open(os.path.join(a.artifacts, "web_app_page.png"), "wb") as f:
            f.write(base64.b64decode(wd.call("GET", "/screenshot")))
        play = ("const done = arguments[arguments.length - 1];"
                "const a = document.querySelector(`li[data-id='${arguments[0]}'] audio`);"
                "a.muted = true; a.onended = () => done([a.duration, a.currentTime]);"
                "a.onerror = () => done('error ' + a.error.code);"
                "a.play().catch(e => done(String(e)));")
        for name, call_id in ((zoe, zoe_id), ("Carol (GSM 6.10)", "20050315-3")):
            played = wd.js(play, call_id, run="async")
            check(isinstance(played, list) and played[0] > 0.9 and played[1] == played[0],
                  f"{name}'s recording plays to its end: {played}")
        with open(os.path.join(day, "Data"), "rb") as f:
            marks = f.read()[146::467]
        check(marks[3:4] == b"1" and wait_for(lambda: wd.js("return document.title")
                                               == "(1) Calls"),
              f"playing marks the message heard in the store: {marks}")

        second = wd.js("window.confirm = () => true;"
                       "return document.querySelectorAll('li')[1].dataset.id;")
        eve_id = store_call("2", "Eve")
        wd.click(f"li[data-id='{second}'] button.del")
        check(wait_for(lambda: wd.js(row_names) == ["Eve", zoe, "Bob & Co", "Carol"]) and
              wd.js("return window.kept") == 1,
              f"a new call appears without reload, the deleted one goes: {wd.js(row_names)}")
        last = open(os.path.join(home, "Data/Last"), "rb").read().decode()
        check(second == "20050315-1" and eve_id == "20050315-5" and
              "\n1:" not in "\n" + last and not os.path.exists(recording),
              f"delete removed exactly that call and its recording: {last!r}")
    finally:
        if wd.session:
            try:
                wd.call("DELETE", "")
            except (OSError, RuntimeError):
                pass
        for p in reversed(procs):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
