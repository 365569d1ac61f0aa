# Windows builds made on Linux: the window tests run under Wine for what
# differs on Windows: the Windows file code, the code-page converters and the
# windows platform (sizes, DPI, keys, the shell, the task bar, drawing), where
# Wine draws real Windows windows on the X display in DISPLAY (label
# wine_windows; test.sh gives it a private Xvfb). Each test runs on one
# platform: the windows one, but for encoding_test, whose cases check the
# converters and nothing drawn, on the offscreen platform (label
# wine_offscreen), where they take half the time. Cases that drive only code
# both systems share run natively and under the sanitizers.
qt_add_executable(windows_platform_test windows_platform_test.cpp)
target_link_libraries(windows_platform_test PRIVATE ui test_support Qt6::Test dwmapi gdi32)
# No widget of the main window gets a child HWND, on the windows platform only.
qt_add_executable(native_children_test native_children_test.cpp)
target_link_libraries(native_children_test PRIVATE ui test_support Qt6::Test)
# Keys sent through Windows (SendInput), also on the windows platform only.
qt_add_executable(windows_keys_test windows_keys_test.cpp)
target_link_libraries(windows_keys_test PRIVATE ui rules_generator test_support Qt6::Test)

# One Wine prefix per desktop DPI: 96 (100 %), and 144 and 192 for Windows'
# display scales of 150 % and 200 %.
function(tarvenor_wine_prefix dpi out)
    set(suffix "")
    set(labels "wine_offscreen;wine_windows")
    if(NOT dpi EQUAL 96)
        set(suffix "_dpi${dpi}")
        set(labels wine_windows)  # only the windows platform sees the DPI
    endif()
    set(prefix ${CMAKE_BINARY_DIR}/wineprefix${suffix})
    add_test(NAME wine_prefix${suffix} COMMAND ${PROJECT_SOURCE_DIR}/tools/wine_prefix.sh ${prefix} ${dpi})
    set_tests_properties(wine_prefix${suffix} PROPERTIES FIXTURES_SETUP wine_prefix${suffix} LABELS "${labels}")
    set(${out} ${prefix} PARENT_SCOPE)
endfunction()
tarvenor_wine_prefix(96 wine_prefix)

# The tests load Qt's DLLs and the compiler's runtime DLLs from where they are.
include(${PROJECT_SOURCE_DIR}/cmake/windows_deploy.cmake)
tarvenor_windows_dll_dirs(dll_dirs)
string(REPLACE ";" "|" dll_dirs "${dll_dirs}")

# tarvenor_wine_test(test platform [dpi])
function(tarvenor_wine_test name platform)
    set(dpi 96)
    if(ARGC GREATER 2)
        set(dpi ${ARGV2})
    endif()
    set(suffix "")
    if(NOT dpi EQUAL 96)
        set(suffix "_dpi${dpi}")
    endif()
    set(test ${name}_${platform}${suffix})
    add_test(NAME ${test}
             COMMAND ${CMAKE_COMMAND} -DTEST=$<TARGET_FILE:${name}> -DPLATFORM=${platform}
                     -DLOG=${CMAKE_CURRENT_BINARY_DIR}/logs/${test}.txt
                     -DWINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix${suffix} "-DDLL_DIRS=${dll_dirs}"
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.cmake)
    set_tests_properties(${test} PROPERTIES LABELS wine_${platform} FIXTURES_REQUIRED wine_prefix${suffix}
                                            TIMEOUT 1800)
endfunction()

foreach(name form1_test about_test hardening_test)
    tarvenor_wine_test(${name} windows)
endforeach()
tarvenor_wine_test(encoding_test offscreen)
tarvenor_wine_test(windows_platform_test windows)
tarvenor_wine_test(windows_keys_test windows)
tarvenor_wine_test(native_children_test windows)
# High DPI: what Windows itself measures of both windows, on desktops of 150 %
# and 200 %.
foreach(dpi 144 192)
    tarvenor_wine_prefix(${dpi} unused)
    tarvenor_wine_test(windows_platform_test windows ${dpi})
endforeach()
