# Sourced by run.sh and test.sh: installs what the build needs from Debian's
# packages, quietly, and only what is missing.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The core's number tests run under a German locale (decimal comma).
ensure_locale() {
    local want="$1"
    locale -a 2>/dev/null | grep -qix "${want/UTF-8/utf8}" && return 0
    ensure_packages locales
    as_root sed -i "s/^# *\(${want} UTF-8\)/\1/" /etc/locale.gen
    as_root locale-gen >/dev/null
}

# qt6-wayland: the editor runs natively on a Wayland desktop that offers no X
# server (it takes X11 wherever there is one).
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest libbenchmark-dev
                qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev libxcb1-dev fonts-wqy-microhei qt6-wayland)
# The sanitizer build and the fuzz targets.
HARDENING_PACKAGES=(clang libclang-rt-14-dev)
# The core cross-built for Windows, and Wine to run its tests.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
# The window under a real window manager on a private X display, clicked
# through the X server, read through the accessibility bus, and on headless
# Wayland compositors: weston, and sway (a tiling one, with its XWayland; run
# as an ordinary user through setpriv from util-linux), with i3 as its X11
# counterpart, and jwm, whose stacking list runs top first (test.sh only).
DESKTOP_TEST_PACKAGES=(xvfb xauth metacity openbox x11-utils xdotool dbus at-spi2-core python3-pyatspi weston
                       sway xwayland i3-wm util-linux jwm)
# The Linux release folder (test.sh and tools/linux_tarball.sh): its run
# paths set with patchelf, and the Fcitx 5 input method's Qt plugin shipped
# beside Qt's own (Qt's Wayland plugins and the Chinese font come with
# BUILD_PACKAGES).
LINUX_RELEASE_PACKAGES=(patchelf fcitx5-frontend-qt6)
# The whole editor for Windows (test.sh only): Qt built from Debian's qt6-base
# source (tools/build_qt_windows.sh), the window tests under Wine with the
# offscreen platform and on a private X display, the deploy folder and its zip,
# the .exe's resources read back (python3-pefile; python3-pil also draws the
# artwork, tools/make_artwork.py).
WINDOWS_UI_PACKAGES=(dpkg-dev xz-utils perl qt6-base-dev-tools binutils-mingw-w64-x86-64
                     xvfb xauth zip unzip fonts-dejavu-core fonts-wqy-microhei fonts-wine
                     python3-pefile python3-pil)

configure_and_build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build --parallel "$(nproc)"
}

# Every test again with AddressSanitizer and UndefinedBehaviorSanitizer, plus
# the fuzz targets, built with clang.
configure_and_build_hardening() {
    cmake -S . -B build-hardening -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DTARVENOR_SANITIZE=ON -DTARVENOR_FUZZ=ON -DTARVENOR_BUILD_BENCH=OFF >/dev/null
    cmake --build build-hardening --parallel "$(nproc)"
}

# The unit data core and its tests as Windows executables (no Qt for Windows
# is packaged here); ctest runs them under Wine.
configure_and_build_windows() {
    cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTARVENOR_BUILD_UI=OFF -DTARVENOR_BUILD_BENCH=OFF >/dev/null
    cmake --build build-windows --parallel "$(nproc)"
}

# The whole editor as Windows executables, against Qt for Windows built from
# Debian's qt6-base source once and cached outside the checkout
# (tools/build_qt_windows.sh). Builds the deploy folder and its zip, and the
# window tests that ctest runs under Wine (window_bench is there to build by
# hand: bench/run_window_bench_wine.sh).
configure_and_build_windows_ui() {
    local qt
    qt=$(tools/build_qt_windows.sh)
    "$qt/bin/qt-cmake" -S . -B build-windows-ui -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DTARVENOR_SHARED_RUNTIME=ON >/dev/null
    cmake --build build-windows-ui --parallel "$(nproc)" \
        --target windows_deploy form1_test about_test hardening_test encoding_test windows_platform_test \
                 windows_keys_test native_children_test
}
