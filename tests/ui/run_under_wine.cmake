cmake_minimum_required(VERSION 3.21)
# Runs one QtTest executable under Wine on one Qt platform:
#   cmake -DTEST=x.exe -DPLATFORM=offscreen|windows -DLOG=x.txt -DWINEPREFIX=dir
#         -DDLL_DIRS=dir;dir... -P run_under_wine.cmake
# QtTest's console output does not come back through Wine, so the test writes
# its log to a file; the exit code (the number of failures) decides, and the
# log is printed when it is not 0. The windows platform draws on the X display
# named by DISPLAY.
if(PLATFORM STREQUAL "windows" AND "$ENV{DISPLAY}" STREQUAL "")
    message(FATAL_ERROR "the windows platform under Wine needs an X display (DISPLAY is not set)")
endif()

set(path "")
string(REPLACE "|" ";" DLL_DIRS "${DLL_DIRS}")
foreach(dir IN LISTS DLL_DIRS)
    string(REPLACE "/" "\\" dir "Z:${dir}")
    list(APPEND path "${dir}")
endforeach()
set(ENV{WINEPATH} "${path}")
set(ENV{WINEPREFIX} "${WINEPREFIX}")
set(ENV{WINEDEBUG} "-all")
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;winemenubuilder.exe=d")
# Wine maps Windows file names to Unix ones through the locale's character set.
set(ENV{LANG} "C.UTF-8")
set(ENV{LC_ALL} "C.UTF-8")
unset(ENV{QT_QPA_PLATFORM})
# Every pass of event processing costs Wine tens of microseconds, and the
# million-line case makes two million of them: more than QtTest's five minutes
# a function. ctest's own timeout still bounds the whole run.
set(ENV{QTEST_FUNCTION_TIMEOUT} 1500000)

get_filename_component(log_dir "${LOG}" DIRECTORY)
file(MAKE_DIRECTORY "${log_dir}")
file(REMOVE "${LOG}")
string(TIMESTAMP started "%s")
execute_process(COMMAND wine "${TEST}" -platform ${PLATFORM} -o "Z:${LOG},txt" ${ARGS}
                RESULT_VARIABLE result)
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")

if(EXISTS "${LOG}")
    file(READ "${LOG}" text)
else()
    set(text "(the test wrote no log)\n")
endif()
if(NOT result EQUAL 0)
    message("${text}")
    message(FATAL_ERROR "${TEST} on the ${PLATFORM} platform under Wine: exit code ${result} after ${seconds} s")
endif()
string(REGEX MATCH "Totals: [^\n]*" totals "${text}")
message("${totals} (${seconds} s)")
