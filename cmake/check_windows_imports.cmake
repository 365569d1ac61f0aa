cmake_minimum_required(VERSION 3.21)
# Checks the Windows editor's deploy folder (cmake -DFOLDER=... -DOBJDUMP=...
# -P check_windows_imports.cmake): every program and DLL in it imports only
# DLLs of the folder's top level and Windows' own DLLs, and every DLL of the
# folder's top level is imported by something in it (nothing is shipped for
# nothing). Plugins are loaded by Qt, not imported: the platform plugin must
# be there, and plugins sit only in the folders Qt looks in. licenses/NOTICE.txt
# names every file but the editor, and each licence it names is there as a
# text (release_notice.cmake).
set(windows_dlls
    advapi32 authz bcrypt comctl32 comdlg32 crypt32 d2d1 d3d9 d3d11 d3d12 dwmapi dwrite dxgi gdi32 imm32
    kernel32 mpr msvcrt netapi32 ole32 oleaut32 rpcrt4 setupapi shcore shell32 shlwapi user32 userenv
    uxtheme version winmm ws2_32 wtsapi32)

if(NOT IS_DIRECTORY "${FOLDER}")
    message(FATAL_ERROR "no deploy folder ${FOLDER}")
endif()
file(GLOB_RECURSE files RELATIVE "${FOLDER}" "${FOLDER}/*")
file(GLOB top_dlls RELATIVE "${FOLDER}" "${FOLDER}/*.dll")
string(TOLOWER "${top_dlls}" top_dlls_lower)

set(problems "")
set(imported "")
set(exes 0)
file(READ "${FOLDER}/licenses/NOTICE.txt" notice)
string(REGEX MATCHALL "\n    licence: [^\n]+" licences "${notice}")
string(REGEX REPLACE "\n    licence: | (or|and|with) |, " ";" licences "${licences}")
list(REMOVE_DUPLICATES licences)
foreach(licence IN LISTS licences)
    if(licence AND NOT "licenses/${licence}.txt" IN_LIST files)
        list(APPEND problems "the notice names the licence ${licence}, whose text is not in licenses/")
    endif()
endforeach()

foreach(file IN LISTS files)
    if(file MATCHES "^licenses/")
        continue()
    endif()
    string(FIND "${notice}" "\n${file}\n" at)
    if(NOT file MATCHES "^[^/]+\\.exe$" AND at EQUAL -1)
        list(APPEND problems "${file} is shipped but not in licenses/NOTICE.txt")
    endif()
    if(file MATCHES "^[^/]+\\.exe$")
        math(EXPR exes "${exes} + 1")
    elseif(NOT file MATCHES "^[^/]+\\.dll$" AND NOT file MATCHES "^(platforms|imageformats)/[^/]+\\.dll$")
        list(APPEND problems "${file}: not a program, a DLL or a plugin where Qt loads plugins")
        continue()
    endif()
    execute_process(COMMAND "${OBJDUMP}" -p "${FOLDER}/${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        list(APPEND problems "${file}: objdump cannot read it")
        continue()
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "DLL Name: " "" dll "${import}")
        string(TOLOWER "${dll}" dll_lower)
        string(REGEX REPLACE "\\.dll$" "" base "${dll_lower}")
        list(APPEND imported "${dll_lower}")
        # api-ms-win-*: Windows' API sets, resolved by Windows itself (8 and later).
        if(NOT dll_lower IN_LIST top_dlls_lower AND NOT base IN_LIST windows_dlls AND NOT base MATCHES "^api-ms-win-")
            list(APPEND problems "${file} imports ${dll}, which is neither in the folder nor Windows' own")
        endif()
    endforeach()
endforeach()

if(NOT exes EQUAL 1)
    list(APPEND problems "${exes} programs in the folder, not one")
endif()
if(NOT "platforms/qwindows.dll" IN_LIST files)
    list(APPEND problems "no platforms/qwindows.dll: Qt cannot open a window")
endif()
foreach(dll IN LISTS top_dlls)
    string(TOLOWER "${dll}" dll_lower)
    if(NOT dll_lower IN_LIST imported)
        list(APPEND problems "${dll} is shipped but nothing imports it")
    endif()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "deploy folder ${FOLDER}:\n  ${text}")
endif()
list(LENGTH files count)
message("${count} files: each program and DLL imports only the folder's DLLs and Windows' own, and the notice names each")
