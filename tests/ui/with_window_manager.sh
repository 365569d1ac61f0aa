#!/bin/sh
# Runs a window test on a private X display under a real window manager:
# metacity (whose title bar is thick enough to matter) unless WINDOW_MANAGER
# names another (i3 with a configuration of its own, bare).
#   with_window_manager.sh TEST [ARGS...]
set -eu
exec "$(dirname "$0")/with_xvfb.sh" sh -c '
    case "${WINDOW_MANAGER:-metacity}" in
        metacity) metacity --sm-disable >/dev/null 2>&1 & ;;
        # No bar and none of the programs the default configuration starts.
        i3) config=$(mktemp)
            printf "font pango:monospace 8\n" >"$config"
            i3 -c "$config" >/dev/null 2>&1 & ;;
        *) "$WINDOW_MANAGER" >/dev/null 2>&1 & ;;
    esac
    wm=$!
    for i in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
    status=0
    QT_QPA_PLATFORM=xcb "$@" || status=$?
    kill "$wm" 2>/dev/null || true
    rm -f "${config:-}"
    exit "$status"' sh "$@"
