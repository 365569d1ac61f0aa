cmake_minimum_required(VERSION 3.21)
# Assembles the Linux editor's folder and packs it (cmake -P; see
# cmake/linux_deploy.cmake for the arguments):
#   tarvenor-unit-editor          the executable, run path $ORIGIN/tarvenor-unit-editor-libs/lib
#   qt.conf                       Qt's prefix is tarvenor-unit-editor-libs, whatever Qt the system has
#   tarvenor-unit-editor-libs/lib/          the libraries, run path $ORIGIN
#   tarvenor-unit-editor-libs/lib/fonts/    the Chinese font, for systems without one
#   tarvenor-unit-editor-libs/plugins/      the plugins, run path $ORIGIN/../../lib
#   tarvenor-unit-editor-libs/licenses/     NOTICE.txt, the licence texts it names and the Debian
#                                           copyright file of each package shipped
# The run paths are DT_RPATH, which LD_LIBRARY_PATH does not override (Steam
# sets it for the programs it starts). Every library the executable and the
# plugins need is shipped, and theirs in turn, unless it is one the system
# must provide (below); one that is neither found nor the system's stops the
# build.
set(libs_name tarvenor-unit-editor-libs)
# X11 and Wayland, with the shells, the decorations and the GL integrations
# those load; the input methods (compose, IBus, Fcitx 5); the about window's
# pictures (PNG is built into Qt Gui).
set(plugins
    platforms/libqxcb.so platforms/libqwayland-generic.so platforms/libqwayland-egl.so
    xcbglintegrations/libqxcb-glx-integration.so xcbglintegrations/libqxcb-egl-integration.so
    wayland-shell-integration/libxdg-shell.so wayland-shell-integration/libwl-shell-plugin.so
    wayland-shell-integration/libivi-shell.so wayland-shell-integration/libqt-shell.so
    wayland-shell-integration/libfullscreen-shell-v1.so
    wayland-decoration-client/libbradient.so
    wayland-graphics-integration-client/libqt-plugin-wayland-egl.so
    platforminputcontexts/libcomposeplatforminputcontextplugin.so
    platforminputcontexts/libibusplatforminputcontextplugin.so
    platforminputcontexts/libfcitx5platforminputcontextplugin.so
    imageformats/libqjpeg.so imageformats/libqgif.so)
# What every desktop system has and must keep its own: the C library; the
# compiler's runtime, which the GL drivers load too; GL, whose drivers belong
# to the machine; the X11 and Wayland client libraries, which speak to the
# system's display server; fontconfig and freetype with what freetype is built
# on (zlib, libpng, HarfBuzz), which read the system's fonts; GLib and the
# D-Bus library, which the desktop itself runs on.
set(system_libraries
    "ld-linux-x86-64" "lib(c|m|dl|pthread|rt|resolv|util)"
    "libstdc\\+\\+" "libgcc_s"
    "lib(GL|EGL|GLX|OpenGL|GLdispatch|drm|gbm)"
    "lib(X11|X11-xcb|Xau|Xdmcp|ICE|SM|Xext|Xrender)"
    "libxcb(-(glx|randr|render|shape|shm|sync|xfixes|xkb|xinput|dri2|dri3|present))?"
    "libwayland-(client|cursor|egl)"
    "lib(fontconfig|freetype|z|png16|harfbuzz)"
    "lib(glib|gobject|gthread)-2\\.0" "libdbus-1")
# The project and licence of each Debian source package the folder takes files
# from, for the notice (release_notice.cmake); one not listed stops the build.
set(projects
    "qt6-base|Qt|LGPL-3.0 or GPL-2.0 or GPL-3.0"
    "qt6-wayland|Qt Wayland|LGPL-3.0 or GPL-2.0 or GPL-3.0"
    "fcitx5-qt|Fcitx 5 Qt|LGPL-2.1 and BSD-3-Clause"
    "libb2|BLAKE2|CC0-1.0"
    "double-conversion|double-conversion|BSD-3-Clause"
    "gcc-12|GCC's OpenMP runtime|GPL-3.0 with GCC-exception-3.1"
    "icu|ICU|ICU"
    "libjpeg-turbo|libjpeg-turbo|IJG and BSD-3-Clause and Zlib"
    "md4c|MD4C|MIT"
    "pcre2|PCRE2|BSD-3-Clause"
    "xcb-util|XCB utilities|MIT" "xcb-util-image|XCB image utilities|MIT"
    "xcb-util-keysyms|XCB key symbol utilities|MIT" "xcb-util-renderutil|XCB render utilities|MIT"
    "xcb-util-wm|XCB window manager utilities|MIT"
    "libxkbcommon|xkbcommon|MIT"
    "libzstd|Zstandard|BSD-3-Clause or GPL-2.0"
    "fonts-wqy-microhei|WenQuanYi Micro Hei|Apache-2.0 or GPL-3.0-with-Font-exception")
include("${CMAKE_CURRENT_LIST_DIR}/release_notice.cmake")
list(JOIN system_libraries "|" system_pattern)
set(system_pattern "^(${system_pattern})\\.so\\.[0-9]+$")
string(REPLACE "|" ";" LIB_DIRS "${LIB_DIRS}")

file(REMOVE_RECURSE "${FOLDER}")
file(REMOVE "${TARBALL}")
set(libs "${FOLDER}/${libs_name}")
file(MAKE_DIRECTORY "${libs}/lib/fonts" "${libs}/licenses")
get_filename_component(exe_name "${EXE}" NAME)
file(WRITE "${FOLDER}/qt.conf" "[Paths]\nPrefix = ${libs_name}\nLibraries = lib\nPlugins = plugins\n")

# ship(SOURCE DESTINATION RUNPATH): copied, stripped, its run path set, and
# its needs looked at next. ship_license(SOURCE DESTINATION): the copyright
# file of the Debian package SOURCE comes from, under the package's name, and
# DESTINATION's entry in the notice.
set(pending "")
function(ship source destination runpath)
    get_filename_component(dir "${destination}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(COPY_FILE "${source}" "${destination}")
    execute_process(COMMAND "${STRIP}" --strip-unneeded "${destination}" RESULT_VARIABLE failed)
    if(NOT failed)
        execute_process(COMMAND "${PATCHELF}" --force-rpath --set-rpath "${runpath}" "${destination}" RESULT_VARIABLE failed)
    endif()
    if(failed)
        message(FATAL_ERROR "cannot strip or set the run path of ${destination}")
    endif()
    set(pending ${pending} "${destination}" PARENT_SCOPE)
endfunction()

function(ship_license source destination)
    execute_process(COMMAND "${DPKG_QUERY}" -S "${source}" OUTPUT_VARIABLE owner RESULT_VARIABLE failed)
    string(REGEX REPLACE "^([^:]+):.*" "\\1" package "${owner}")
    if(failed OR NOT EXISTS "/usr/share/doc/${package}/copyright")
        message(FATAL_ERROR "no Debian package with a copyright file ships ${source}")
    endif()
    file(COPY_FILE "/usr/share/doc/${package}/copyright" "${libs}/licenses/${package}")
    notice_debian_source("${DPKG_QUERY}" "${package}" source_package version)
    set(licences "")
    foreach(entry IN LISTS projects)
        if(entry MATCHES "^${source_package}\\|([^|]+)\\|(.+)$")
            set(project "${CMAKE_MATCH_1}")
            set(licences "${CMAKE_MATCH_2}")
        endif()
    endforeach()
    if(NOT licences)
        message(FATAL_ERROR "${source} comes from the Debian source package ${source_package}, whose licence the notice does not know")
    endif()
    # Qt builds some code of others into these two even where Debian gives it
    # the system's libraries (Qt's qt_attribution.json files name it).
    get_filename_component(name "${destination}" NAME)
    if(name STREQUAL "libQt6Core.so.6")
        string(APPEND licences ", BSD-3-Clause and BSD-2-Clause, MIT, CC0-1.0, Unicode-DFS-2016")
    elseif(name STREQUAL "libQt6Gui.so.6")
        string(APPEND licences ", FTL or GPL-2.0, BSD-2-Clause and Imlib2, X11 and HPND, AGLFN, ICC, MIT")
    endif()
    notice_upstream_version("${version}" upstream)
    file(RELATIVE_PATH shipped "${FOLDER}" "${destination}")
    notice_file("${shipped}" "${project} ${upstream}" "${licences}"
                "Debian source package ${source_package} ${version} (apt-get source ${source_package}=${version})")
endfunction()

ship("${EXE}" "${FOLDER}/${exe_name}" "$ORIGIN/${libs_name}/lib")
get_filename_component(font_name "${FONT}" NAME)
file(COPY_FILE "${FONT}" "${libs}/lib/fonts/${font_name}")
ship_license("${FONT}" "${libs}/lib/fonts/${font_name}")
foreach(plugin IN LISTS plugins)
    if(NOT EXISTS "${QT_PLUGINS}/${plugin}")
        message(FATAL_ERROR "Qt has no plugin ${plugin} in ${QT_PLUGINS}")
    endif()
    ship("${QT_PLUGINS}/${plugin}" "${libs}/plugins/${plugin}" "$ORIGIN/../../lib")
    ship_license("${QT_PLUGINS}/${plugin}" "${libs}/plugins/${plugin}")
endforeach()

while(pending)
    list(POP_FRONT pending binary)
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objdump cannot read ${binary}")
    endif()
    string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${dump}")
    foreach(entry IN LISTS needed)
        string(REGEX REPLACE "NEEDED +" "" library "${entry}")
        if(library MATCHES "${system_pattern}" OR EXISTS "${libs}/lib/${library}")
            continue()
        endif()
        set(source "")
        foreach(dir IN LISTS LIB_DIRS)
            if(EXISTS "${dir}/${library}")
                set(source "${dir}/${library}")
                break()
            endif()
        endforeach()
        if(NOT source)
            message(FATAL_ERROR "${binary} needs ${library}, which is neither found nor the system's")
        endif()
        ship("${source}" "${libs}/lib/${library}" "$ORIGIN")
        ship_license("${source}" "${libs}/lib/${library}")
    endforeach()
endwhile()
notice_write("${libs}/licenses" "${QT_VERSION}" "\
Its source is the Debian source package qt6-base named below (qt6-wayland
for Qt Wayland), from which Debian 12 built these libraries.")

get_filename_component(parent "${FOLDER}" DIRECTORY)
get_filename_component(name "${FOLDER}" NAME)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar czf "${TARBALL}" "${name}"
                WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot write ${TARBALL}")
endif()
