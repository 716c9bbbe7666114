#!/usr/bin/env bash
# scripts/install, checked.
#   tests/install_test.sh BUILD_DIR            stages into a fresh DESTDIR and
#                                              checks files, modes, the unit
#                                              and the sample settings
#   tests/install_test.sh BUILD_DIR --systemd  installs on this machine and
#                                              runs the unit under systemd
# Ends with 77 (skipped) where the second cannot run.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
fails=0
fail() {
  echo "FAIL: $*" >&2
  fails=$((fails + 1))
}
mode_of() { stat -c '%a' "$1"; }

if [ "${2:-}" = --systemd ]; then
  if [ ! -d /run/systemd/system ]; then
    echo "SKIP: systemd does not run here (PID 1 is $(cat /proc/1/comm));" \
         "the staged install test covers the files"
    exit 77
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing on this machine needs root"
    exit 77
  fi
  "$src/scripts/install" "$build"
  systemctl restart linewarden
  for _ in $(seq 50); do
    systemctl is-active --quiet linewarden && break
    sleep 0.2
  done
  systemctl is-active --quiet linewarden || fail "the unit did not start"
  pid="$(systemctl show -p MainPID --value linewarden)"
  owner="$(ps -o user= -p "$pid" | tr -d ' ')"
  [ "$owner" = linewarden ] || fail "the process runs as '$owner'"
  systemctl reload linewarden
  sleep 1
  systemctl is-active --quiet linewarden || fail "a reload ended the process"
  [ "$(systemctl show -p MainPID --value linewarden)" = "$pid" ] ||
    fail "a reload replaced the process"
  systemctl stop linewarden
  [ "$fails" -eq 0 ] && echo "PASS: the unit runs as linewarden"
  exit "$fails"
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" "$src/scripts/install" "$build" --prefix /usr

for exe in linewarden-proc lwdctl; do
  [ -x "$stage/usr/bin/$exe" ] || fail "$exe not installed"
  [ "$(mode_of "$stage/usr/bin/$exe")" = 755 ] || fail "$exe mode"
done

unit="$stage/usr/lib/systemd/system/linewarden.service"
[ "$(mode_of "$unit")" = 644 ] || fail "unit mode"
for line in "ExecStart=/usr/bin/linewarden-proc" "Type=notify" \
            "User=linewarden" "SupplementaryGroups=audio dialout" \
            "Environment=LINEWARDEN_HOME=/var/lib/linewarden" \
            "StateDirectoryMode=0700" 'ExecReload=/bin/kill -USR1 $MAINPID'; do
  grep -qxF "$line" "$unit" || fail "the unit lacks '$line'"
done

home="$stage/var/lib/linewarden"
[ "$(mode_of "$home")" = 700 ] || fail "state folder mode $(mode_of "$home")"
[ "$(mode_of "$home/registry.db")" = 600 ] || fail "store mode"
for dir in Journal Data Greets LegalGreets Sound; do
  [ "$(mode_of "$home/$dir")" = 700 ] || fail "$dir missing or not 0700"
done
[ -s "$home/Trans/English" ] || fail "the translation is missing"
lwdctl() {
  LINEWARDEN_HOME="$home" LINEWARDEN_REGISTRY="$home/registry.db" \
    "$stage/usr/bin/lwdctl" "$@"
}
[ "$(lwdctl reg get 'Answer\TabAnsweringMachine' CmbGreetsMessages)" = \
  Greeting ] || fail "the sample settings are missing"
[ "$(lwdctl reg get 'RemoteAccess\TabInternetAccess' chkAllowWWWRemoteAccess)" \
  = 0 ] || fail "the web pages are on without a password"

# A second install keeps the store and what was changed in it.
lwdctl reg set 'Properties\TabLineStat' cmbLineStat 1
DESTDIR="$stage" "$src/scripts/install" "$build" --prefix /usr >/dev/null
[ "$(lwdctl reg get 'Properties\TabLineStat' cmbLineStat)" = 1 ] ||
  fail "a second install replaced the settings"

[ "$fails" -eq 0 ] && echo "PASS: staged install"
exit "$fails"
