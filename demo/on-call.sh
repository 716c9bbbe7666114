#!/bin/sh
# Started by linewarden-proc at the end of every call (program forwarding,
# "Forward\App"): appends one line per call to calls.txt beside this script.
# Arguments: call type, caller name, caller number, date, time. They are
# plain text as the caller sent it: quote them, never evaluate them.
printf '%s | %s | %s | %s %s\n' "$1" "$2" "$3" "$4" "$5" >> "$(dirname "$0")/calls.txt"
