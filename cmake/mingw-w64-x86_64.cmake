# Cross-builds the unit data core and its tests as Windows executables with
# Debian's mingw-w64 compiler (posix thread model, which GoogleTest needs),
# and runs them under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DTARVENOR_BUILD_UI=OFF -DTARVENOR_BUILD_BENCH=OFF
# The whole editor, against Qt for Windows (tools/build_qt_windows.sh), goes
# through that Qt's qt-cmake, which loads this file:
#   $QT/bin/qt-cmake -S . -B build-windows-ui -DQT_CHAINLOAD_TOOLCHAIN_FILE=$PWD/cmake/mingw-w64-x86_64.cmake \
#         -DTARVENOR_SHARED_RUNTIME=ON
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: Wine needs no compiler runtime DLLs beside them.
# The editor links Qt's DLLs, which load the compiler runtime DLLs anyway; its
# build (TARVENOR_SHARED_RUNTIME=ON) links them too and ships them beside it.
if(NOT TARVENOR_SHARED_RUNTIME)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARVENOR_SHARED_RUNTIME)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
