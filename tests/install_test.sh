#!/usr/bin/env bash
# scripts/install, checked.
#   tests/install_test.sh BUILD_DIR            stages into a fresh DESTDIR and
#                                              checks files, modes, the unit
#                                              and the sample settings
#   tests/install_test.sh BUILD_DIR --systemd  installs on this machine and
#                                              runs the unit under systemd
#   tests/install_test.sh BUILD_DIR --fresh    installs with scripts/install
#                                              and as a package, takes a call
#                                              and uninstalls, in a private
#                                              mount namespace: the machine's
#                                              own files are never changed
# Ends with 77 (skipped) where the last two cannot run.
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

if [ "${2:-}" = --fresh ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare --mount true 2>/dev/null; then
    echo "SKIP: a private mount namespace needs root"
    exit 77
  fi
  # The scratch folder holds binds of the machine's folders while the
  # namespace lives: it is removed only once the namespace has ended.
  if [ -z "${LW_PRIVATE_MOUNTS:-}" ]; then
    scratch="$(mktemp -d)"
    status=0
    unshare --mount --propagation private \
      env LW_PRIVATE_MOUNTS="$scratch" "$0" "$@" || status=$?
    rm -rf --one-file-system "$scratch"
    exit "$status"
  fi
  # What the installation writes to lands in overlays, whose upper folders
  # show afterwards what is left of it.
  scratch="$LW_PRIVATE_MOUNTS"
  proc=""
  trap '[ -z "$proc" ] || kill "$proc" 2>/dev/null || true' EXIT
  for dir in /etc /usr /var /run; do
    name="${dir//\//_}"
    mkdir -p "$scratch/lower$name" "$scratch/upper$name" "$scratch/work$name"
    { mount --bind "$dir" "$scratch/lower$name" &&
      mount -t overlay overlay -o "lowerdir=$dir,upperdir=$scratch/upper$name,workdir=$scratch/work$name" "$dir"; } ||
      { echo "SKIP: overlays cannot be mounted here"; exit 77; }
  done
  # The machine's service manager sees none of this: the scripts are to
  # take it for absent.
  [ ! -d /run/systemd/system ] || mount -t tmpfs tmpfs /run/systemd
  # Starts the installed process by hand as the README says (sudo -u is
  # runuser here), calls it, and checks the caller heard the greeting and
  # lwdctl lists the message as new; sets $recording.
  take_call() {
    runuser -u linewarden -- env LINEWARDEN_HOME=$home \
      LINEWARDEN_RUNTIME=/run/linewarden "$1/linewarden-proc" \
      2>>"$scratch/proc.err" &
    proc=$!
    for _ in $(seq 100); do
      [ -S /run/linewarden/simline.sock ] && break
      sleep 0.1
    done
    lwdctl phone call --name "Ann Smith" --number 5551234 --rings 4 \
      --ring-interval 1 --play "$scratch/message.wav" --play-after 7 \
      --capture "$scratch/heard.wav" >/dev/null || fail "the call failed"
    # The caller heard the greeting: sound in the first seconds after the
    # answer, well before the beep.
    heard=$(sox "$scratch/heard.wav" -n trim 0 2 stat 2>&1 |
      awk '/RMS +amplitude/ {print $3}')
    awk -v a="${heard:-0}" 'BEGIN { exit !(a > 0.01) }' ||
      fail "the caller heard no greeting (RMS ${heard:-none})"
    sleep 1
    lwdctl calls | grep -q "5551234 .* new$" ||
      fail "lwdctl calls: $(lwdctl calls)"
    recording="$(lwdctl calls play 1 --path)" || fail "no recording"
  }
  sox -n -r 8000 -c 1 -b 16 "$scratch/message.wav" synth 2 sine 440 vol 0.3
  lwdctl() { /usr/local/bin/lwdctl "$@"; }
  had_user=0
  getent passwd linewarden >/dev/null && had_user=1
  "$src/scripts/install" "$build" >"$scratch/install.out"
  home=/var/lib/linewarden
  for f in Greets/Greeting.wav Beep.wav; do
    [ "$(stat -c %U "$home/$f" 2>/dev/null)" = linewarden ] ||
      fail "no $f of the service's own in the home"
  done
  # Without LINEWARDEN_HOME, lwdctl finds the installed home, and reading
  # makes no store anywhere.
  unset LINEWARDEN_HOME LINEWARDEN_RUNTIME LINEWARDEN_REGISTRY XDG_RUNTIME_DIR
  lwdctl where | grep -q "^home: *$home (from the installed service" ||
    fail "lwdctl where: $(lwdctl where)"
  lwdctl devices >/dev/null 2>&1 || true
  [ ! -e /usr/local/bin/registry.db ] || fail "lwdctl devices made a store"
  # Refused settings change nothing.
  lwdctl reg export >"$scratch/before.reg"
  lwdctl reg set 'Answer\TabAnsweringMachine' txtNumOfRings 5 2>"$scratch/err" &&
    fail "an unknown setting was written"
  grep -q "did you mean txtNumOfRing?" "$scratch/err" ||
    fail "no nearest name: $(cat "$scratch/err")"
  lwdctl reg set 'Answer\TabAnsweringMachine' txtNumOfRing five 2>/dev/null &&
    fail "a ring count of 'five' was written"
  lwdctl reg export | cmp -s - "$scratch/before.reg" ||
    fail "a refused setting changed the store"

  take_call /usr/local/bin
  ls /run/linewarden >"$scratch/run-before"
  lwdctl send 999 HELLO 2>/dev/null && fail "channel 999 was taken"
  ls /run/linewarden | cmp -s - "$scratch/run-before" ||
    fail "a refused send left something behind"
  lwdctl calls --json | grep -qF "\"recording\":\"$recording\"" ||
    fail "lwdctl calls --json: $(lwdctl calls --json)"
  lwdctl calls heard 1 && lwdctl calls | grep -q "5551234 .* heard$" ||
    fail "calls heard 1: $(lwdctl calls)"
  # Contacts: what is neither a number nor a pattern is refused; patterns
  # are taken; edit and remove by number.
  refused=$(lwdctl contacts add Spam abc-def 2>&1) && fail "abc-def was taken"
  [[ $refused == *"nor a pattern"* ]] || fail "abc-def refused: $refused"
  lwdctl contacts add "Ann Smith" 5551234 >/dev/null
  lwdctl contacts add Spam '0900*' >/dev/null
  lwdctl contacts edit 2 --block --number '01632 96????'
  lwdctl contacts remove 1
  [ "$(lwdctl contacts list)" = "$(printf '1\tSpam\t01632 96????\tblock')" ] ||
    fail "contacts after edit and remove: $(lwdctl contacts list)"
  # Any sound file becomes a greeting in the line's format, the service's.
  sox -n -r 44100 -c 2 "$scratch/own.wav" synth 1 sine 300
  lwdctl greeting set "$scratch/own.wav" >/dev/null
  greeting="$home/Greets/Greeting.wav"
  [ "$(soxi -r "$greeting") $(soxi -c "$greeting") $(stat -c %U "$greeting")" \
    = "8000 1 linewarden" ] || fail "greeting set: $(soxi "$greeting")"
  kill "$proc"
  wait "$proc" || true

  "$src/scripts/uninstall" >/dev/null
  [ ! -e /usr/local/bin/lwdctl ] || fail "uninstall left lwdctl"
  [ -s "$recording" ] || fail "uninstall without --purge lost the calls"
  getent passwd linewarden >/dev/null || fail "uninstall removed the user"
  "$src/scripts/uninstall" --purge >/dev/null
  [ ! -e "$home" ] || fail "--purge left the home"
  if [ "$had_user" -eq 0 ] && getent passwd linewarden >/dev/null; then
    fail "--purge left the user"
  fi

  # The package: installed with apt, it takes a call with its greeting;
  # removed, it keeps the calls; purged, it leaves nothing.
  deb="$(cd "$scratch" && "$src/scripts/package" "$build" | tail -1)"
  apt-get install -y -qq "$deb" >"$scratch/apt.out" 2>&1 ||
    fail "apt install: $(cat "$scratch/apt.out")"
  lwdctl() { /usr/bin/lwdctl "$@"; }
  [ -s "$home/Greets/Greeting.wav" ] || fail "the package made no greeting"
  take_call /usr/bin
  kill "$proc"
  wait "$proc" || true
  apt-get remove -y -qq linewarden >/dev/null 2>&1 || fail "apt remove"
  [ ! -e /usr/bin/lwdctl ] && [ -s "$recording" ] ||
    fail "apt remove left the program or lost the calls"
  apt-get purge -y -qq linewarden >/dev/null 2>&1 || fail "apt purge"
  [ ! -e "$home" ] || fail "apt purge left the home"
  if [ "$had_user" -eq 0 ] && getent passwd linewarden >/dev/null; then
    fail "apt purge left the user"
  fi

  # Whatever is left in the upper folders is a change to the machine:
  # deleted files show as whiteouts, new or changed ones as files.
  for dir in /etc /usr /var /run; do
    upper="$scratch/upper${dir//\//_}"
    lower="$scratch/lower${dir//\//_}"
    while read -r path; do
      rel="${path#"$upper"}"
      case "$dir$rel" in
        /etc/*- | /etc/.pwd.lock | /var/log/* | /var/cache/* | \
        /var/lib/dpkg/* | /var/lib/apt/*) continue ;;
      esac
      if [ -c "$path" ]; then
        fail "removed: $dir$rel"
      elif [ -d "$path" ]; then
        [ -d "$lower$rel" ] || fail "left: $dir$rel"
      else
        cmp -s "$path" "$lower$rel" || fail "left or changed: $dir$rel"
      fi
    done < <(find "$upper" -mindepth 1)
  done
  [ "$fails" -eq 0 ] && echo "PASS: fresh installs take a call; uninstalls undo them"
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
