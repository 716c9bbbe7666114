#!/usr/bin/env bash
# Recording downloads on loopback: linewarden-proc and nginx serve the same
# 1 MB recording (a 16-bit PCM WAV) to wrk with 16 concurrent clients, one
# after the other in the same run. nginx runs one worker, like the process's
# one loop, with sendfile on.
# - "app": the owner's interface, /api/calls/{id}/recording, as its page
#   asks it: HTTP/1.1 with the connection kept open (the file goes out as
#   stored, by sendfile), against nginx keeping connections open too.
#   Goal: at least 0.8 of nginx.
# - "legacy": the old pages' link /messages/... (with "chkWWWHttpHeaders"
#   on, as browsers need), which close each connection after the answer
#   (HTTP/1.0), against nginx closing each connection too.
#
# The machine is shared, so the four measures take turns, ROUNDS times.
#
# Usage: bench/web_download.sh [BIN_DIR] (default build/bin); DURATION=5
# (seconds of each measure), ROUNDS=3.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(cd "${1:-build/bin}" && pwd)"
duration="${DURATION:-5}"
for tool in nginx wrk; do
  command -v "$tool" >/dev/null || { echo "web_download: $tool missing (scripts/bench installs it)"; exit 1; }
done

tmp="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "web_download: nothing listens on $1"; exit 1
}

day="Data/Log/2005/03/15"
name="Alice_5551234_03-15-2005_10-15-30.wav"
home="$tmp/home"
mkdir -p "$home/Journal" "$home/$day" "$tmp/run" "$tmp/nginx/logs"
# One stored message whose recording is 1 MiB of 16-bit PCM at 8 kHz, mono.
python3 - "$home" "$day" "$name" <<'EOPY'
import os, struct, sys
home, day, name = sys.argv[1:]
data = os.urandom(1048576 - 44)
with open(f"{home}/{day}/{name}", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) + b"data" +
            struct.pack("<I", len(data)) + data)
def field(text, width):
    return text.encode().ljust(width, b" ")
record = (b"0\0" + field("2", 2) + field("Alice", 32) + field("5551234", 32) +
          field("03/15/2005", 50) + field("10:15:30", 16) +
          field("0:01:05", 10) + field("0", 2) + b"0" + field("Message", 64) +
          bytes(256))
assert len(record) == 467
open(f"{home}/{day}/Data", "wb").write(record)
open(f"{home}/Data/Last", "wb").write(b"1:\\Data\\Log\\2005\\03\\15\\\r\n")
EOPY
# nginx workers run as an unprivileged user: the file must be readable.
chmod -R a+rX "$tmp"

export LINEWARDEN_HOME="$home" LINEWARDEN_RUNTIME="$tmp/run"
web='RemoteAccess\TabInternetAccess'
our_port="$(free_port)"
"$bin/lwdctl" reg import demo/linewarden-demo.reg >/dev/null
"$bin/lwdctl" reg set 'Properties\TabDevices' cmbSoundDev null
"$bin/lwdctl" reg set "$web" txtWWWPort "$our_port"
"$bin/lwdctl" reg set "$web" chkWWWHttpHeaders 1
"$bin/linewarden-proc" >/dev/null 2>&1 &
pids+=($!)

nginx_port="$(free_port)"
cat > "$tmp/nginx/nginx.conf" <<EOC
worker_processes 1;
daemon off;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  server {
    listen 127.0.0.1:$nginx_port;
    root $home;
    location / { }
  }
}
EOC
nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" &
pids+=($!)
wait_port "$our_port"
wait_port "$nginx_port"

legacy_path="/messages/$day/$name"
app_path="/api/calls/20050315-1/recording"
# Each must hand out the recording's exact bytes before it is timed.
python3 - "$our_port" "$nginx_port" "$legacy_path" "$app_path" "/$day/$name" "$home/$day/$name" <<'EOPY'
import sys, urllib.request
ours, theirs, legacy_path, app_path, their_path, file = sys.argv[1:]
want = open(file, "rb").read()
for port, path in ((ours, legacy_path), (ours, app_path), (theirs, their_path)):
    got = urllib.request.urlopen(f"http://127.0.0.1:{port}{path}").read()
    if got != want:
        sys.exit(f"web_download: {path} on port {port} sent {len(got)} bytes, not the file")
EOPY

run() {  # label url [wrk options] -> prints requests/s and MB/s
  local out
  out="$(wrk -t2 -c16 -d"${duration}s" "${@:3}" "$2")"
  local rps mbs
  rps="$(awk '/^Requests\/sec/ {print $2}' <<<"$out")"
  mbs="$(awk '/^Transfer\/sec/ {v=$2; if (v ~ /GB/) {sub("GB","",v); v*=1024} else if (v ~ /KB/) {sub("KB","",v); v/=1024} else sub("MB","",v); print v}' <<<"$out")"
  printf '%-24s %10s req/s %10.1f MB/s\n' "$1" "$rps" "$mbs" >&2
  echo "$mbs"
}
# The machine is shared: the four measures take turns, ROUNDS times, so a
# change of load weighs on each alike; the ratios are of the sums.
rounds="${ROUNDS:-3}"
echo "1 MB recording, 16 clients, ${rounds} rounds of ${duration} s each (load: $(cut -d' ' -f1-3 /proc/loadavg)):" >&2
app=0 nginx_kept=0 legacy=0 nginx_closing=0
for _ in $(seq "$rounds"); do
  app="$(awk -v a="$app" -v b="$(run "app, kept open" "http://127.0.0.1:$our_port$app_path")" 'BEGIN { print a + b }')"
  nginx_kept="$(awk -v a="$nginx_kept" -v b="$(run "nginx, kept open" "http://127.0.0.1:$nginx_port/$day/$name")" 'BEGIN { print a + b }')"
  legacy="$(awk -v a="$legacy" -v b="$(run "legacy, closing" "http://127.0.0.1:$our_port$legacy_path")" 'BEGIN { print a + b }')"
  nginx_closing="$(awk -v a="$nginx_closing" -v b="$(run "nginx, closing" "http://127.0.0.1:$nginx_port/$day/$name" -H "Connection: close")" 'BEGIN { print a + b }')"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
awk -v a="$app" -v b="$nginx_kept" -v n="$rounds" 'BEGIN { printf "app %.0f / nginx kept open %.0f MB/s: ratio %.2f (goal >= 0.8)\n", a / n, b / n, a / b }'
awk -v a="$legacy" -v b="$nginx_closing" -v n="$rounds" 'BEGIN { printf "legacy %.0f / nginx closing %.0f MB/s: ratio %.2f\n", a / n, b / n, a / b }'
