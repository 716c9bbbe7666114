#!/usr/bin/env python3
"""Measures the running process on its SIP line, with a minimal SIP and RTP
caller of its own on loopback (no registrar): the delay from the INVITE to
180 Ringing, the CPU of the process and of each of its threads while it
records the call, and the frames of the caller's sound lost or late in the
stored recording.

Usage: bench/sip_bench.py [--bin build/bin] [--call-seconds 30] [--calls 20]
Each figure is printed with its target.
"""
import argparse
import glob
import math
import os
import random
import socket
import statistics
import struct
import sys
import threading
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_bench import Home, TICKS, cpu_seconds  # noqa: E402

SECTION = "Properties\\TabDevices\\SipLine"


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def thread_cpu(pid):
    """CPU seconds of each thread of `pid`, by thread name."""
    result = {}
    for stat in glob.glob(f"/proc/{pid}/task/*/stat"):
        try:
            with open(stat) as f:
                text = f.read()
        except FileNotFoundError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text.rsplit(")", 1)[1].split()
        tid = stat.split("/")[4]
        result[f"{name}[{tid}]"] = (int(fields[11]) + int(fields[12])) / TICKS
    return result


def ulaw(sample):
    """G.711 mu-law of one 16-bit sample."""
    sign = 0x80 if sample < 0 else 0
    magnitude = min(abs(sample), 32635) + 0x84
    exponent = 7
    for e in range(7, -1, -1):
        if magnitude & (0x4000 >> (7 - e)):
            exponent = e
            break
    mantissa = (magnitude >> (exponent + 3)) & 0x0F
    return ~(sign | (exponent << 4) | mantissa) & 0xFF


class Caller:
    """One SIP call to the line at `line_port`, its RTP sent from a thread at
    a 20 ms pace, the line's RTP counted."""

    def __init__(self, line_port):
        self.line = ("127.0.0.1", line_port)
        self.sip = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sip.bind(("127.0.0.1", 0))
        self.sip.settimeout(10)
        self.rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.rtp.bind(("127.0.0.1", 0))
        self.rtp.settimeout(0.5)
        self.port = self.sip.getsockname()[1]
        self.call_id = f"{random.getrandbits(64):x}@bench"
        self.cseq = 1
        self.to_tag = ""
        self.remote_rtp = None
        self.sending = False
        self.received = 0
        # A 440 Hz tone, one 20 ms block after another (22 blocks make
        # whole periods).
        self.blocks = [bytes(ulaw(int(8000 * math.sin(2 * math.pi * 440 *
                                                       (b * 160 + i) / 8000)))
                             for i in range(160)) for b in range(22)]

    def request(self, method, extra="", body="", same_transaction=False):
        """Sends `method`; CANCEL and the ACK of a failure belong to the
        INVITE's transaction (`same_transaction`)."""
        to = f"<sip:bench@127.0.0.1:{self.line[1]}>"
        if self.to_tag:
            to += f";tag={self.to_tag}"
        if same_transaction or method == "ACK":
            cseq = self.cseq - 1
        else:
            cseq = self.cseq
            self.cseq += 1
        if not same_transaction:
            self.branch = f"z9hG4bK{random.getrandbits(48):x}"
        text = (f"{method} sip:bench@127.0.0.1:{self.line[1]} SIP/2.0\r\n"
                f"Via: SIP/2.0/UDP 127.0.0.1:{self.port};rport;"
                f"branch={self.branch}\r\n"
                "Max-Forwards: 70\r\n"
                "From: \"BENCH\" <sip:5551234@127.0.0.1>;tag=bench\r\n"
                f"To: {to}\r\nCall-ID: {self.call_id}\r\n"
                f"CSeq: {cseq} {method}\r\n"
                f"Contact: <sip:5551234@127.0.0.1:{self.port}>\r\n{extra}"
                f"Content-Length: {len(body)}\r\n\r\n{body}")
        self.sip.sendto(text.encode(), self.line)

    def response(self):
        """The next response: (code, headers and body text)."""
        data, _ = self.sip.recvfrom(65536)
        text = data.decode("latin-1")
        return int(text.split(" ", 2)[1]), text

    def invite(self):
        sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\n"
               "c=IN IP4 127.0.0.1\r\nt=0 0\r\n"
               f"m=audio {self.rtp.getsockname()[1]} RTP/AVP 0 101\r\n"
               "a=rtpmap:0 PCMU/8000\r\na=rtpmap:101 telephone-event/8000\r\n"
               "a=ptime:20\r\n")
        t0 = time.perf_counter()
        self.request("INVITE", "Content-Type: application/sdp\r\n", sdp)
        return t0

    def wait_code(self, wanted):
        while True:
            code, text = self.response()
            if code == wanted or code >= 300:
                return code, text

    def acknowledge(self, text):
        for line in text.split("\r\n"):
            if line.lower().startswith("to:") and ";tag=" in line:
                self.to_tag = line.split(";tag=")[1].split(";")[0]
        body = text.split("\r\n\r\n", 1)[1]
        address = next(line[9:] for line in body.split("\r\n")
                       if line.startswith("c=IN IP4 "))
        port = next(int(line.split()[1]) for line in body.split("\r\n")
                    if line.startswith("m=audio "))
        self.remote_rtp = (address, port)
        self.request("ACK")

    def start_media(self):
        self.sending = True
        threading.Thread(target=self._send, daemon=True).start()
        threading.Thread(target=self._receive, daemon=True).start()

    def _send(self):
        seq, ts, n = 0, 0, 0
        start = time.perf_counter()
        while self.sending:
            header = struct.pack("!BBHII", 0x80, 0x80 if seq == 0 else 0,
                                 seq & 0xFFFF, ts & 0xFFFFFFFF, 0x1234)
            self.rtp.sendto(header + self.blocks[seq % 22], self.remote_rtp)
            seq += 1
            ts += 160
            n += 1
            delay = start + n * 0.02 - time.perf_counter()
            if delay > 0:
                time.sleep(delay)

    def _receive(self):
        while self.sending:
            try:
                self.rtp.recvfrom(2048)
                self.received += 1
            except socket.timeout:
                pass

    def hang_up(self):
        self.sending = False
        self.request("BYE")
        return self.wait_code(200)[0]


def gaps(path):
    """20 ms blocks missing from the recording of a continuous tone: runs of
    40 or more zero samples between its first and last sound."""
    with wave.open(path, "rb") as w:
        frames = w.readframes(w.getnframes())
        width = w.getsampwidth()
    if width == 2:
        samples = struct.unpack(f"<{len(frames)//2}h", frames)
    else:
        samples = [b - 128 for b in frames]
    sound = [i for i, s in enumerate(samples) if s != 0]
    if not sound:
        return None, 0
    run, missing = 0, 0
    for s in samples[sound[0]:sound[-1] + 1]:
        if s == 0:
            run += 1
        else:
            if run >= 40:
                missing += math.ceil(run / 160)
            run = 0
    return missing, len(samples) / 8000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(os.path.dirname(
        os.path.dirname(os.path.abspath(__file__))), "build", "bin"))
    ap.add_argument("--call-seconds", type=float, default=30)
    ap.add_argument("--calls", type=int, default=20,
                    help="offered calls timed for the delay to 180")
    args = ap.parse_args()
    home = Home(args.bin)
    port = free_udp_port()
    home.lwdctl("reg", "set", "Properties\\TabDevices", "cmbModemDev",
                "SIP: bench@127.0.0.1")
    home.lwdctl("reg", "set", "Properties\\TabDevices", "cmbSoundDev", "null")
    for name, value in (("txtSipAddress", "sip:bench@127.0.0.1"),
                        ("txtSipListen", f"127.0.0.1:{port}"),
                        ("txtSipRingSeconds", "1")):
        home.lwdctl("reg", "set", SECTION, name, value)
    home.lwdctl("reg", "set", "Answer\\TabAnsweringMachine", "txtNumOfRing",
                "2")
    try:
        proc, _ = home.start()

        # Calls given up at once: the delay from the INVITE to 180.
        delays = []
        for _ in range(args.calls):
            caller = Caller(port)
            t0 = caller.invite()
            code, _ = caller.wait_code(180)
            delays.append(time.perf_counter() - t0)
            caller.request("CANCEL", same_transaction=True)
            caller.wait_code(487)
            caller.request("ACK", same_transaction=True)
            time.sleep(0.3)
        print(f"INVITE to 180 Ringing: median {statistics.median(delays)*1000:.2f} ms, "
              f"max {max(delays)*1000:.2f} ms over {len(delays)} calls "
              "(target < 5 ms to InComeCall, which the line raises as it sends 180)")

        # One call answered after two rings and recorded to its end.
        caller = Caller(port)
        caller.invite()
        code, text = caller.wait_code(200)
        if code != 200:
            raise RuntimeError(f"the call was answered {code}")
        caller.acknowledge(text)
        caller.start_media()
        while "StartRecord" not in home.journal():
            time.sleep(0.05)
        time.sleep(1)
        c0, t0, threads0 = cpu_seconds(proc.pid), time.perf_counter(), thread_cpu(proc.pid)
        time.sleep(args.call_seconds)
        c1, t1, threads1 = cpu_seconds(proc.pid), time.perf_counter(), thread_cpu(proc.pid)
        print(f"CPU while recording a SIP call: {(c1-c0)/(t1-t0)*100:.2f} % of one core "
              f"over {t1-t0:.0f} s (target < 1 %)")
        for name in sorted(threads1):
            used = threads1[name] - threads0.get(name, 0)
            if used > 0:
                print(f"  thread {name}: {used/(t1-t0)*100:.2f} %")
        heard = caller.received
        caller.hang_up()
        print(f"RTP packets from the line: {heard} over the call "
              f"(one each 20 ms)")
        deadline = time.time() + 10
        recordings = []
        while time.time() < deadline and not recordings:
            recordings = [p for p in glob.glob(os.path.join(home.dir, "**", "*.wav"),
                                               recursive=True)
                          if "BENCH" in os.path.basename(p)]
            time.sleep(0.2)
        if recordings:
            time.sleep(0.5)
            missing, seconds = gaps(recordings[0])
            print(f"caller's 20 ms frames missing from the recording: {missing} "
                  f"in {seconds:.1f} s recorded (target 0)")
        else:
            print("no recording was stored")
        home.stop(proc)
    finally:
        home.remove()


if __name__ == "__main__":
    sys.exit(main())
