#!/usr/bin/env bash
# Builds Qt 6 for Windows (x86_64, shared DLLs) from Debian's own qt6-base
# source package with Debian's mingw-w64 compilers, and installs it into a
# cache folder outside the checkout. Prints that folder on stdout; everything
# else goes to stderr. A finished build is reused, so a second run (or a fresh
# clone on the same machine) costs nothing.
#
#   tools/build_qt_windows.sh            # build if needed, print the prefix
#   tools/build_qt_windows.sh --prefix   # print the prefix only
#
# The cache folder's name carries a hash of what decides the build's output:
# the Debian source version, the toolchain file and the configure options
# below. Changing comments or messages in this script keeps the cache; changing
# an option builds anew.
set -euo pipefail

# The source must match the host tools (moc, rcc, uic) Qt's cross build runs.
SOURCE_VERSION=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ -z "$SOURCE_VERSION" ]; then
    echo "build_qt_windows: qt6-base-dev-tools is not installed" >&2
    exit 1
fi
QT_VERSION=${SOURCE_VERSION%%+*}

TOOLCHAIN='set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
'

# Only what the editor and its window tests use: Core, Gui, Widgets, Test,
# the windows and offscreen platforms, PNG/JPEG/GIF, third-party code bundled.
# Dynamic OpenGL stays on by itself when OpenGL is off, and the platform
# plugin then fails to compile. Debian's source lacks src/3rdparty/wintab
# (tablet events). Without Direct2D
# the platform plugin's DirectWrite font database is not compiled and the
# plugin fails to link, so Direct2D stays on and only its 1.1 variant is off.
CONFIGURE_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DFEATURE_gui=ON
    -DFEATURE_widgets=ON
    -DFEATURE_testlib=ON
    -DFEATURE_network=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_opengl=OFF
    -DFEATURE_dynamicgl=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_zstd=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_glib=OFF
    -DFEATURE_pkg_config=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_direct2d=ON
    -DFEATURE_direct2d1_1=OFF
    -DFEATURE_png=ON
    -DFEATURE_jpeg=ON
    -DFEATURE_gif=ON
    -DFEATURE_freetype=ON
    -DFEATURE_harfbuzz=ON
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF
)

KEY=$(printf '%s\n' "$SOURCE_VERSION" "$TOOLCHAIN" "${CONFIGURE_OPTIONS[@]}" | sha256sum | cut -c1-12)

if [ -n "${TARVENOR_CACHE:-}" ]; then
    CACHE_ROOT=$TARVENOR_CACHE
elif mkdir -p /var/cache/tarvenor-build 2>/dev/null && [ -w /var/cache/tarvenor-build ]; then
    CACHE_ROOT=/var/cache/tarvenor-build
else
    CACHE_ROOT=${XDG_CACHE_HOME:-$HOME/.cache}/tarvenor-build
fi
NAME=qt-$QT_VERSION-windows-$KEY
PREFIX=$CACHE_ROOT/$NAME
MARKER=$PREFIX/.tarvenor-complete

if [ "${1:-}" = "--prefix" ] || [ -f "$MARKER" ]; then
    echo "$PREFIX"
    exit 0
fi

mkdir -p "$CACHE_ROOT"
exec 9>"$CACHE_ROOT/$NAME.lock"
flock 9
if [ -f "$MARKER" ]; then  # another run finished it while this one waited
    echo "$PREFIX"
    exit 0
fi

WORK=$CACHE_ROOT/$NAME.work
rm -rf "$WORK" "$PREFIX"
mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/archives/partial" "$WORK/src"
LOG=$WORK/build.log
fail() {
    echo "build_qt_windows: $1 failed; the last lines of $LOG:" >&2
    tail -n 60 "$LOG" >&2
    exit 1
}

# A private source list (same mirror and release as the system), private
# package lists and a private cache: the system's apt setup stays untouched.
. /etc/os-release
MIRROR=http://deb.debian.org/debian
cat > "$WORK/apt/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $MIRROR $VERSION_CODENAME main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $MIRROR $VERSION_CODENAME-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security $VERSION_CODENAME-security main
EOF
APT_OPTIONS=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=$WORK/apt/none"
             -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt" -o "Dir::Cache::archives=$WORK/apt/archives"
             -o "APT::Sandbox::User=$(id -un)" -o "Debug::NoLocking=1")
mkdir -p "$WORK/apt/none"

echo "Fetching the qt6-base $SOURCE_VERSION source package" >&2
apt-get "${APT_OPTIONS[@]}" -qq update >>"$LOG" 2>&1 || fail "apt-get update"
# apt-get source unpacks with dpkg-source, which applies Debian's patch series.
(cd "$WORK/src" && apt-get "${APT_OPTIONS[@]}" -qq source "qt6-base=$SOURCE_VERSION") >>"$LOG" 2>&1 || fail "apt-get source"
SRC=$(find "$WORK/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$SRC" ] || fail "unpacking the source"

printf '%s' "$TOOLCHAIN" > "$WORK/toolchain.cmake"
START=$(date +%s)
echo "Configuring Qt $QT_VERSION for Windows" >&2
cmake -S "$SRC" -B "$WORK/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$WORK/toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" "${CONFIGURE_OPTIONS[@]}" >>"$LOG" 2>&1 || fail "configure"
# Low priority, a job a core: test.sh runs it beside the other builds' tests,
# which then take what they need first.
echo "Building Qt $QT_VERSION for Windows (about 25 minutes on two cores; log: $LOG)" >&2
nice -n 19 cmake --build "$WORK/build" --parallel "${QT_BUILD_JOBS:-$(nproc)}" >>"$LOG" 2>&1 || fail "build"
cmake --install "$WORK/build" >>"$LOG" 2>&1 || fail "install"
echo "Qt for Windows built in $(( $(date +%s) - START )) s, installed in $PREFIX" >&2

date -u +%FT%TZ > "$MARKER"   # last: the folder is complete
rm -rf "$WORK"
echo "$PREFIX"
