#!/usr/bin/env bash
# Recording downloads on loopback: linewarden-proc (with "chkWWWHttpHeaders"
# on, as browsers need) and nginx serve the same 1 MB recording to wrk with
# 16 concurrent clients, one after the other in the same run. nginx runs one
# worker, like the process's one loop, with sendfile on. Our server closes
# each connection after its answer (HTTP/1.0 without keep-alive); nginx keeps them alive.
# Goal: at least half of nginx's throughput, aiming for 0.8.
#
# Usage: bench/web_download.sh [BIN_DIR] (default build/bin); DURATION=10.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(cd "${1:-build/bin}" && pwd)"
duration="${DURATION:-10}"
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
head -c 1048576 /dev/urandom > "$home/$day/$name"
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

url_path="/messages/$day/$name"
# Both must hand out the recording's exact bytes before they are timed.
python3 - "$our_port" "$nginx_port" "$url_path" "/$day/$name" "$home/$day/$name" <<'EOPY'
import sys, urllib.request
ours, theirs, our_path, their_path, file = sys.argv[1:]
want = open(file, "rb").read()
for port, path in ((ours, our_path), (theirs, their_path)):
    got = urllib.request.urlopen(f"http://127.0.0.1:{port}{path}").read()
    if got != want:
        sys.exit(f"web_download: port {port} sent {len(got)} bytes, not the file")
EOPY

run() {  # label url [wrk options] -> prints requests/s and MB/s
  local out
  out="$(wrk -t2 -c16 -d"${duration}s" "${@:3}" "$2")"
  local rps mbs
  rps="$(awk '/^Requests\/sec/ {print $2}' <<<"$out")"
  mbs="$(awk '/^Transfer\/sec/ {v=$2; if (v ~ /GB/) {sub("GB","",v); v*=1024} else if (v ~ /KB/) {sub("KB","",v); v/=1024} else sub("MB","",v); print v}' <<<"$out")"
  printf '%-16s %10s req/s %10.1f MB/s\n' "$1" "$rps" "$mbs" >&2
  echo "$mbs"
}
echo "1 MB recording, 16 clients, ${duration} s each:" >&2
ours="$(run linewarden-proc "http://127.0.0.1:$our_port$url_path")"
theirs="$(run nginx "http://127.0.0.1:$nginx_port/$day/$name")"
# For reference: nginx when each download has its own connection, as ours.
run "nginx, closing" "http://127.0.0.1:$nginx_port/$day/$name" -H "Connection: close" >/dev/null
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio %.2f of nginx (goal >= 0.5, aim 0.8)\n", a / b }'
