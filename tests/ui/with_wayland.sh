#!/bin/sh
# Runs a window test against a headless Wayland compositor (weston) with a
# runtime folder of its own. With --and-x the test is offered a private X
# display (Xvfb) beside it, as XWayland offers one on a Wayland desktop;
# without it there is no X server at all. The session says it is Wayland
# (XDG_SESSION_TYPE), and no Qt platform is chosen for the test.
#   with_wayland.sh [--and-x] TEST [ARGS...]
set -eu
with_x=no
if [ "${1:-}" = --and-x ]; then with_x=yes; shift; fi

runtime=$(mktemp -d /tmp/tarvenor-wayland.XXXXXX)
chmod 700 "$runtime"
socket=tarvenor-$$
# No idle time: the shell would lock the screen over the windows.
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket="$socket" --idle-time=0 \
    >"$runtime/weston.log" 2>&1 &
weston=$!
trap 'kill "$weston" 2>/dev/null || true; wait "$weston" 2>/dev/null || true; rm -rf "$runtime"' EXIT
for i in $(seq 1 100); do
    [ -S "$runtime/$socket" ] && break
    sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
    echo "weston did not start:" >&2
    cat "$runtime/weston.log" >&2
    exit 1
fi

unset QT_QPA_PLATFORM DISPLAY
export XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" XDG_SESSION_TYPE=wayland
# The headless compositor has no seat (no keyboard); Qt's Wayland text input
# then crashes on the first key a test types, so no input method is asked for.
export QT_IM_MODULE=none
status=0
if [ "$with_x" = yes ]; then
    "$(dirname "$0")/with_xvfb.sh" "$@" || status=$?
else
    "$@" || status=$?
fi
exit "$status"
