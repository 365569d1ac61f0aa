cmake_minimum_required(VERSION 3.21)
# Assembles the Windows editor's folder and zips it (cmake -P; see
# windows_deploy.cmake for the arguments). Beside the executable: the Qt
# platform plugin and the image-format plugins of the pictures the windows
# show (PNG is built into Qt Gui), then every DLL these import that is found
# in DLL_DIRS, and theirs in turn. Whatever is imported but not found there is
# left to Windows; check_windows_imports.cmake makes sure it is Windows' own.
# In licenses/: the notice of every file but the editor (release_notice.cmake),
# the licence texts it names, the Debian copyright files of the three source
# packages the files come from, and BUILD_QT_SCRIPT, which says how Qt was
# built from its source.
set(plugins platforms/qwindows.dll imageformats/qjpeg.dll imageformats/qgif.dll)
include("${CMAKE_CURRENT_LIST_DIR}/release_notice.cmake")
string(REPLACE "|" ";" DLL_DIRS "${DLL_DIRS}")

file(REMOVE_RECURSE "${FOLDER}")
file(REMOVE "${ZIP}")
file(MAKE_DIRECTORY "${FOLDER}")
get_filename_component(exe_name "${EXE}" NAME)
file(COPY "${EXE}" DESTINATION "${FOLDER}")
set(pending "${FOLDER}/${exe_name}")
foreach(plugin IN LISTS plugins)
    if(NOT EXISTS "${QT_PLUGINS}/${plugin}")
        message(FATAL_ERROR "Qt has no plugin ${plugin} in ${QT_PLUGINS}")
    endif()
    get_filename_component(sub "${plugin}" DIRECTORY)
    file(COPY "${QT_PLUGINS}/${plugin}" DESTINATION "${FOLDER}/${sub}")
    list(APPEND pending "${FOLDER}/${plugin}")
endforeach()

set(shipped "")
while(pending)
    list(POP_FRONT pending binary)
    list(APPEND shipped "${binary}")
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objdump cannot read ${binary}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "DLL Name: ([^\r]+)" "\\1" dll "${import}")
        if(EXISTS "${FOLDER}/${dll}")
            continue()
        endif()
        foreach(dir IN LISTS DLL_DIRS)
            if(EXISTS "${dir}/${dll}")
                file(COPY "${dir}/${dll}" DESTINATION "${FOLDER}")
                set(DLL_SOURCE_${dll} "${dir}/${dll}")
                list(APPEND pending "${FOLDER}/${dll}")
                break()
            endif()
        endforeach()
    endforeach()
endwhile()

foreach(binary IN LISTS shipped)
    execute_process(COMMAND "${STRIP}" --strip-unneeded "${binary}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot strip ${binary}")
    endif()
endforeach()

# What each file is made of. Qt for Windows carries the third-party code its
# configure options (build_qt_windows.sh) leave bundled, in the versions Qt's
# source carries; the parts named here are those with licences of their own
# to show, the rest (and every copyright holder) is in Debian's copyright file
# of qt6-base.
if(NOT QT_VERSION VERSION_EQUAL 6.4.2)
    message(FATAL_ERROR "the parts Qt carries are named below as Qt 6.4.2 has them, not Qt ${QT_VERSION}")
endif()
set(qt_licence "LGPL-3.0 or GPL-2.0 or GPL-3.0")
set(contents
    "Qt6Core.dll|Qt ${QT_VERSION} (Qt Core), with PCRE2 10.40, double-conversion 3.2.0, zlib 1.2.13, TinyCBOR 0.6.0, BLAKE2, SHA-3, SHA-384/512 (RFC 6234), SipHash, the easing equations and the Unicode data built in|${qt_licence}, BSD-3-Clause and BSD-2-Clause, Zlib, MIT, CC0-1.0, Unicode-DFS-2016"
    "Qt6Gui.dll|Qt ${QT_VERSION} (Qt GUI), with FreeType 2.12.1, HarfBuzz 4.2.1, libpng 1.6.39, zlib 1.2.13, MD4C 0.4.8, the smooth scaling from Imlib2, X11's region code, the Adobe Glyph List 1.7 and the sRGB colour profile built in|${qt_licence}, FTL or GPL-2.0, MIT, Libpng, Zlib, BSD-2-Clause and Imlib2, X11 and HPND, AGLFN, ICC"
    "Qt6Widgets.dll|Qt ${QT_VERSION} (Qt Widgets)|${qt_licence}"
    "platforms/qwindows.dll|Qt ${QT_VERSION} (the Windows platform)|${qt_licence}"
    "imageformats/qjpeg.dll|Qt ${QT_VERSION} (the JPEG plugin), with libjpeg-turbo 2.1.4 built in|${qt_licence}, IJG and BSD-3-Clause and Zlib"
    "imageformats/qgif.dll|Qt ${QT_VERSION} (the GIF plugin)|${qt_licence}"
    "libstdc++-6.dll|the C++ library of GCC ${GCC_VERSION}|GPL-3.0 with GCC-exception-3.1"
    "libgcc_s_seh-1.dll|the runtime library of GCC ${GCC_VERSION}|GPL-3.0 with GCC-exception-3.1"
    "libwinpthread-1.dll|winpthreads of mingw-w64 @upstream@|MIT and BSD-3-Clause")
set(licenses "${FOLDER}/licenses")
file(MAKE_DIRECTORY "${licenses}")
# The Qt tools the build ran come from the source Qt for Windows was built from.
notice_debian_source("${DPKG_QUERY}" qt6-base-dev-tools qt_package qt_version)
set(qt_source "Debian source package ${qt_package} ${qt_version} (apt-get source ${qt_package}=${qt_version}), built for Windows by build_qt_windows.sh in this folder")
file(COPY_FILE "/usr/share/doc/qt6-base-dev-tools/copyright" "${licenses}/${qt_package}")
file(COPY_FILE "${BUILD_QT_SCRIPT}" "${licenses}/build_qt_windows.sh")
foreach(entry IN LISTS contents)
    string(REGEX MATCH "^([^|]+)\\|([^|]+)\\|(.+)$" unused "${entry}")
    set(file "${CMAKE_MATCH_1}")
    set(project "${CMAKE_MATCH_2}")
    set(licences "${CMAKE_MATCH_3}")
    set(source "${qt_source}")
    if(NOT file MATCHES "^(Qt6|platforms/|imageformats/)")  # the compiler's runtime: ask the package that ships it
        execute_process(COMMAND "${DPKG_QUERY}" -S "${DLL_SOURCE_${file}}" OUTPUT_VARIABLE owner RESULT_VARIABLE failed)
        string(REGEX REPLACE "^([^:]+):.*" "\\1" package "${owner}")
        if(failed)
            message(FATAL_ERROR "no Debian package ships ${DLL_SOURCE_${file}}")
        endif()
        notice_debian_source("${DPKG_QUERY}" "${package}" source_package version)
        file(COPY_FILE "/usr/share/doc/${package}/copyright" "${licenses}/${source_package}")
        set(source "Debian source package ${source_package} ${version} (apt-get source ${source_package}=${version})")
        notice_upstream_version("${version}" upstream)
        string(REPLACE "@upstream@" "${upstream}" project "${project}")
    endif()
    notice_file("${file}" "${project}" "${licences}" "${source}")
endforeach()
notice_write("${licenses}" "${QT_VERSION}" "\
Its source is the Debian source package ${qt_package} ${qt_version}, built
for Windows with Debian's mingw-w64 compilers by build_qt_windows.sh (in this
folder), whose TOOLCHAIN and CONFIGURE_OPTIONS are the exact configuration.")

get_filename_component(parent "${FOLDER}" DIRECTORY)
get_filename_component(name "${FOLDER}" NAME)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${name}"
                WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot write ${ZIP}")
endif()
