#!/bin/sh
# Runs a command on a private X display (Xvfb, 1024x768, no TCP, no reset
# when its last client leaves). Xvfb takes a free display number itself and
# says which (-displayfd), so tests can run side by side.
#   with_xvfb.sh COMMAND [ARGS...]
set -eu
dir=$(mktemp -d /tmp/tarvenor-xvfb.XXXXXX)
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/display" >"$dir/log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
# The number comes once the server takes clients; nothing, if it ended.
read -r display <"$dir/display" || true
[ -n "$display" ] || { echo "Xvfb did not start:" >&2; cat "$dir/log" >&2; exit 1; }
status=0
DISPLAY=":$display" "$@" || status=$?
exit "$status"
