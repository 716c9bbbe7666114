#!/usr/bin/env python3
"""Measures the running process: start-up to line open, idle CPU and
wake-ups, resident memory, and CPU while a call is recorded in real time.

Usage: bench/process_bench.py [--bin build/bin] [--idle-seconds 60] [--idle-only]
       bench/process_bench.py --modem usr|conexant|rockwell [--call-seconds 30]
The second form measures only the CPU while a call is recorded on a voice
modem: the modem simulator on a pseudo-terminal, the process on its real
serial driver.
Each figure is printed with its target.
"""
import argparse
import glob
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import wave
import math
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def wakeups(pid):
    """Context switches of all the process's threads so far: a thread that
    sleeps in a wait and is woken adds one each time it sleeps again."""
    total = 0
    for status in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(status) as f:
                for line in f:
                    if "ctxt_switches:" in line:
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a helper thread that just ended
    return total


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def write_tone(path, hz, seconds):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        frames = b"".join(
            struct.pack("<h", int(12000 * math.sin(2 * math.pi * hz * i / 8000)))
            for i in range(int(seconds * 8000)))
        w.writeframes(frames)


class Home:
    def __init__(self, bin_dir):
        self.bin = bin_dir
        self.dir = tempfile.mkdtemp(prefix="lwbench-")
        self.env = dict(os.environ, LINEWARDEN_HOME=self.dir,
                        LINEWARDEN_RUNTIME=os.path.join(self.dir, "run"))
        os.makedirs(os.path.join(self.dir, "Journal"))
        os.makedirs(os.path.join(self.dir, "Greets"))
        self.lwdctl("reg", "import", os.path.join(ROOT, "demo", "linewarden-demo.reg"))
        write_tone(os.path.join(self.dir, "Greets", "Greeting.wav"), 600, 1.0)
        write_tone(os.path.join(self.dir, "Beep.wav"), 1000, 0.3)

    def lwdctl(self, *args, **kw):
        return subprocess.run([os.path.join(self.bin, "lwdctl"), *args], env=self.env,
                              check=True, capture_output=True, **kw)

    def journal(self):
        text = ""
        for p in glob.glob(os.path.join(self.dir, "Journal", "*_Sys.txt")):
            with open(p, "rb") as f:
                text += f.read().decode("latin-1")
        return text

    def start(self):
        t0 = time.perf_counter()
        proc = subprocess.Popen([os.path.join(self.bin, "linewarden-proc")], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while "OpenLine:Tapi1.LineOpen(0)->" not in self.journal():
            if time.perf_counter() - t0 > 10:
                raise RuntimeError("the line did not open")
            time.sleep(0.001)
        return proc, time.perf_counter() - t0

    def stop(self, proc):
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=10)
        for p in glob.glob(os.path.join(self.dir, "Journal", "*")):
            os.remove(p)

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def measure_idle(proc, seconds):
    """The line open, no call, no auto mode: nothing should wake the process."""
    time.sleep(1)
    c0, w0 = cpu_seconds(proc.pid), wakeups(proc.pid)
    time.sleep(seconds)
    c1, w1 = cpu_seconds(proc.pid), wakeups(proc.pid)
    print(f"idle CPU: {(c1-c0)/seconds*100:.3f} % of one core over "
          f"{seconds:.0f} s (target < 0.1 %)")
    print(f"idle wake-ups: {w1-w0} over {seconds:.0f} s, all threads "
          f"(target 0)")
    print(f"resident memory idle: {rss_kib(proc.pid)/1024:.1f} MB (target < 20 MB)")


def record_call(home, proc, bin_dir, seconds, call):
    """A conversation picked up on an extension: the line records it for the
    whole call; the process's CPU over the recording."""
    voice = os.path.join(home.dir, "voice.wav")
    write_tone(voice, 500, seconds)
    phone = subprocess.Popen(
        call + ["--name", "BENCH", "--number", "5551234", "--rings", "3",
                "--ring-interval", "0.5", "--pickup-after-ring", "1", "--play",
                voice, "--hangup-after", str(seconds + 8)],
        env=home.env, stdout=subprocess.DEVNULL)
    deadline = time.perf_counter() + 60
    while "StartRecord" not in home.journal():
        if time.perf_counter() > deadline:
            raise RuntimeError("the call was not recorded")
        time.sleep(0.05)
    c0 = cpu_seconds(proc.pid)
    t0 = time.perf_counter()
    time.sleep(seconds - 2)
    c1 = cpu_seconds(proc.pid)
    t1 = time.perf_counter()
    phone.wait(timeout=60)
    return (c1 - c0) / (t1 - t0) * 100, t1 - t0


def measure_modem(bin_dir, profile, seconds):
    home = Home(bin_dir)
    link = os.path.join(home.dir, "modem")
    control = os.path.join(home.dir, "modem.sock")
    sim = subprocess.Popen(
        [os.path.join(bin_dir, "linewarden-modemsim"), "--profile", profile,
         "--link", link, "--control", control], stdout=subprocess.DEVNULL)
    try:
        while not os.path.exists(control):
            time.sleep(0.01)
        maker = {"usr": "U.S. Robotics", "conexant": "CONEXANT",
                 "rockwell": "ROCKWELL"}[profile]
        home.lwdctl("reg", "set", "Properties\\TabDevices\\VoiceModem",
                    "txtModemPorts", link)
        home.lwdctl("reg", "set", "Properties\\TabDevices", "cmbModemDev",
                    f"{maker} ({link})")
        home.lwdctl("reg", "set", "Answer\\TabAnsweringMachine",
                    "chkRunAnsIfNotAnswered", "0")
        proc, _ = home.start()
        cpu, over = record_call(
            home, proc, bin_dir, seconds,
            [os.path.join(bin_dir, "linewarden-modemsim"), "call", "--control",
             control])
        print(f"CPU while recording a call on the {profile} voice modem: "
              f"{cpu:.2f} % of one core over {over:.0f} s (target < 1 %)")
        home.stop(proc)
    finally:
        sim.send_signal(signal.SIGTERM)
        sim.wait(timeout=10)
        home.remove()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--idle-seconds", type=float, default=60)
    ap.add_argument("--call-seconds", type=float, default=30)
    ap.add_argument("--idle-only", action="store_true",
                    help="only the idle figures (CPU, wake-ups, memory)")
    ap.add_argument("--modem", choices=["usr", "conexant", "rockwell"],
                    help="only the CPU while recording on this voice modem")
    args = ap.parse_args()
    if args.modem:
        measure_modem(args.bin, args.modem, args.call_seconds)
        return 0
    home = Home(args.bin)
    try:
        if args.idle_only:
            proc, _ = home.start()
            measure_idle(proc, args.idle_seconds)
            home.stop(proc)
            return 0
        times = []
        for _ in range(10):
            proc, t = home.start()
            times.append(t)
            home.stop(proc)
        print(f"start-up to line open: median {statistics.median(times)*1000:.1f} ms, "
              f"max {max(times)*1000:.1f} ms over {len(times)} starts (target < 200 ms)")

        proc, _ = home.start()
        measure_idle(proc, args.idle_seconds)

        home.lwdctl("reg", "set", "Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0")
        cpu, over = record_call(home, proc, args.bin, args.call_seconds,
                                [os.path.join(args.bin, "lwdctl"), "phone", "call"])
        print(f"CPU while recording a call: {cpu:.2f} % of one core over "
              f"{over:.0f} s (target < 1 %)")
        time.sleep(1)
        print(f"resident memory after a call: {rss_kib(proc.pid)/1024:.1f} MB (target < 20 MB)")
        home.stop(proc)
    finally:
        home.remove()


if __name__ == "__main__":
    sys.exit(main())
