#!/usr/bin/env bash
# Read/Save through the window, before and after the about window, each as a
# ratio to its floor; the cost of one event pass under both dispatchers; and
# start-up time; under offscreen and Xvfb.
#   bench/run_window_bench.sh      (after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
ensure_packages xvfb xauth
bench=build/bench/window_bench
work=$(mktemp -d)
trap 'rm -rf "$work"; [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true' EXIT
build/tools/make_rules "$work/calibrated.xml" --bytes 460800 >/dev/null
build/tools/make_rules "$work/large.xml" --units 17858 --padding 28 >/dev/null  # 1,000,051 lines, 50 MB
head -c 20000000 /dev/zero | tr '\0' '\r' >"$work/carriage_returns.xml"  # 20 million empty lines
mkdir -p "$work/editor/data" && cp tools/demo/unitrules.xml "$work/editor/data/"

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
startup() {
    local kind=$1 i
    for i in $(seq 1 11); do
        if [ "$kind" = form ]; then "$bench" --startup form "$work/editor"; else "$bench" --startup "$kind"; fi
    done 2>/dev/null | median
}

# One pass of event processing under GLib's dispatcher and under Qt's own
# (QT_NO_GLIB=1), alternately, three times each.
passes() {
    local i
    for i in 1 2 3; do
        "$bench" --pass 2>/dev/null
        QT_NO_GLIB=1 "$bench" --pass 2>/dev/null
    done
}

run_all() {
    "$bench" "$work/calibrated.xml" 5 2>/dev/null
    "$bench" "$work/large.xml" 3 2>/dev/null
    passes
    local form empty label
    form=$(startup form)
    empty=$(startup empty)
    label=$(startup label)
    "$bench" --peak "$work/large.xml" 2>/dev/null | sed 's/^/  /'
    "$bench" --peak "$work/carriage_returns.xml" 2>/dev/null | sed 's/^/  /'
    echo "  start-up to first paint: editor $form ms, empty QWidget $empty ms, ratio $(awk "BEGIN {printf \"%.2f\", $form / $empty}")x;" \
         "one Chinese label $label ms"
}

echo "== offscreen"
QT_QPA_PLATFORM=offscreen run_all
echo "== Xvfb"
Xvfb :98 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=:98 QT_QPA_PLATFORM=xcb run_all
