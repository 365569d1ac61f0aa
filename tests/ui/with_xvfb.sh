#!/bin/sh
# Runs a command on a private X display (Xvfb, 1024x768, no TCP, no reset
# when its last client leaves). Xvfb takes a free display number itself and
# says which (-displayfd), so tests can run side by side.
#   with_xvfb.sh COMMAND [ARGS...]
set -eu
dir=$(mktemp -d /tmp/tarvenor-xvfb.XXXXXX)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/display" >"$dir/log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
for i in $(seq 1 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
done
if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/log" >&2
    exit 1
fi
status=0
DISPLAY=":$(cat "$dir/display")" "$@" || status=$?
exit "$status"
