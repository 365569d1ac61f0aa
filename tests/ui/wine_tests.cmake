# Windows builds made on Linux: every window test runs under Wine twice, on
# the offscreen platform (label wine_offscreen) and on the windows platform,
# where Wine draws real Windows windows on the X display in DISPLAY (label
# wine_windows; test.sh gives it a private Xvfb). windows_platform_test checks
# what only the real platform shows and runs in the second pass alone.
qt_add_executable(windows_platform_test windows_platform_test.cpp)
target_link_libraries(windows_platform_test PRIVATE ui test_support Qt6::Test dwmapi)

set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/tools/wine_prefix.sh ${wine_prefix})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS "wine_offscreen;wine_windows")

# The tests load Qt's DLLs and the compiler's runtime DLLs from where they are.
include(${PROJECT_SOURCE_DIR}/cmake/windows_deploy.cmake)
tarvenor_windows_dll_dirs(dll_dirs)
string(REPLACE ";" "|" dll_dirs "${dll_dirs}")

function(tarvenor_wine_test name platform)
    add_test(NAME ${name}_${platform}
             COMMAND ${CMAKE_COMMAND} -DTEST=$<TARGET_FILE:${name}> -DPLATFORM=${platform}
                     -DLOG=${CMAKE_CURRENT_BINARY_DIR}/logs/${name}_${platform}.txt
                     -DWINEPREFIX=${wine_prefix} "-DDLL_DIRS=${dll_dirs}"
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/run_under_wine.cmake)
    set_tests_properties(${name}_${platform} PROPERTIES LABELS wine_${platform} FIXTURES_REQUIRED wine_prefix
                                                        TIMEOUT 1800)
endfunction()

foreach(name form1_test about_test hardening_test encoding_test)
    tarvenor_wine_test(${name} offscreen)
    tarvenor_wine_test(${name} windows)
endforeach()
tarvenor_wine_test(windows_platform_test windows)
