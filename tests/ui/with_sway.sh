#!/bin/sh
# Runs a window test on a headless sway, a tiling Wayland compositor, as an
# ordinary user with a runtime folder of its own (sway is not run as root; a
# root caller gets the user tarvenor-desktop, made on first use). With --x11
# the test gets sway's XWayland display beside the Wayland one, as a Wayland
# desktop offers it; without it there is no X server at all. SWAYSOCK points
# the test at sway's control socket (swaymsg). SWAY_FOCUS_ON_WINDOW_ACTIVATION
# sets sway's answer to a program's request for the focus (urgent when unset).
#   with_sway.sh [--x11] TEST [ARGS...]
set -eu
with_x=no
if [ "${1:-}" = --x11 ]; then with_x=yes; shift; fi
test_program=$1
shift

runtime=$(mktemp -d /tmp/tarvenor-sway.XXXXXX)
chmod 700 "$runtime"
sway_pid=
cleanup() {
    if [ -n "$sway_pid" ]; then
        # XWayland is sway's child; it ends with sway, or is ended here.
        children=$(pgrep -P "$sway_pid" || true)
        kill "$sway_pid" 2>/dev/null || true
        for i in $(seq 1 50); do
            kill -0 "$sway_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$sway_pid" 2>/dev/null || true
        wait "$sway_pid" 2>/dev/null || true
        for child in $children; do
            for i in $(seq 1 50); do
                kill -0 "$child" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$child" 2>/dev/null || true
        done
    fi
    rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ "$(id -u)" -eq 0 ]; then
    user=tarvenor-desktop
    id -u "$user" >/dev/null 2>&1 ||
        useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
        id -u "$user" >/dev/null  # made meanwhile by a test run beside this one
    as_user="setpriv --reuid=$user --regid=$user --clear-groups --"
else
    user=$(id -un)
    as_user=
fi
# The test runs from the runtime folder: the build tree may sit where the
# user cannot reach (under /root).
mkdir "$runtime/home"
cp "$test_program" "$runtime/test"
cp "$(dirname "$0")/virtual_pointer.py" "$runtime/"
export TARVENOR_VIRTUAL_POINTER="$runtime/virtual_pointer.py"
chown -R "$user:" "$runtime" 2>/dev/null || chown -R "$user" "$runtime"

# The output at the size the X11 tests' screens have; the session's
# displays are written where the script can read them once sway is up.
if [ "$with_x" = yes ]; then xwayland=enable; else xwayland=disable; fi
cat >"$runtime/config" <<EOF
output HEADLESS-1 mode 1024x768 position 0 0
xwayland $xwayland
focus_on_window_activation ${SWAY_FOCUS_ON_WINDOW_ACTIVATION:-urgent}
exec sh -c 'echo "\$WAYLAND_DISPLAY \${DISPLAY:-}" >"\$XDG_RUNTIME_DIR/session.tmp" && mv "\$XDG_RUNTIME_DIR/session.tmp" "\$XDG_RUNTIME_DIR/session"'
EOF
chown "$user" "$runtime/config"

unset DISPLAY WAYLAND_DISPLAY SWAYSOCK QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$runtime" HOME="$runtime/home" XDG_SESSION_TYPE=wayland
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
# setpriv replaces itself with sway: $! is sway's own process.
$as_user sway --config "$runtime/config" >"$runtime/sway.log" 2>&1 </dev/null &
sway_pid=$!
for i in $(seq 1 150); do
    [ -s "$runtime/session" ] && break
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$runtime/session" ]; then
    echo "sway did not start:" >&2
    cat "$runtime/sway.log" >&2
    exit 1
fi
read -r wayland_display x_display <"$runtime/session"
export WAYLAND_DISPLAY="$wayland_display"
SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock)
export SWAYSOCK
if [ "$with_x" = yes ]; then
    [ -n "$x_display" ] || { echo "sway offers no XWayland display" >&2; exit 1; }
    export DISPLAY="$x_display"
fi
# The headless compositor has no keyboard; Qt's Wayland text input would
# crash on the first key a test types.
export QT_IM_MODULE=none
status=0
(cd "$runtime" && $as_user timeout -k 5 300 ./test "$@") || status=$?
[ "$status" -eq 0 ] || tail -n 20 "$runtime/sway.log" >&2
exit "$status"
