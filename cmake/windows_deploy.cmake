# Windows builds made on Linux with mingw-w64 against Qt for Windows
# (tools/build_qt_windows.sh): where the DLLs the programs load are, and the
# folder a modder copies into the game's folder, zipped.
include_guard(GLOBAL)

# The folders of the DLLs a program built here loads: that Qt's bin folder
# and the cross compiler's runtime DLLs.
function(tarvenor_windows_dll_dirs out)
    set(dirs "$<TARGET_FILE_DIR:Qt6::Core>")
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${found}")
            message(FATAL_ERROR "the cross compiler has no ${runtime}")
        endif()
        get_filename_component(found_dir "${found}" DIRECTORY)
        get_filename_component(found_dir "${found_dir}" REALPATH)
        list(APPEND dirs "${found_dir}")
    endforeach()
    list(REMOVE_DUPLICATES dirs)
    set(${out} "${dirs}" PARENT_SCOPE)
endfunction()

# Target windows_deploy (part of the default build): <build>/tarvenor-unit-editor/
# holding the executable, the Qt DLLs and plugins it loads and the compiler's
# runtime DLLs, all stripped, with licenses/ (the notice, the licence texts),
# and <build>/tarvenor-unit-editor-windows-x86_64.zip
# of that folder. Test windows_deploy_imports checks that the folder's files
# import nothing but each other and Windows' own DLLs.
function(tarvenor_windows_deploy target)
    find_program(TARVENOR_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
    find_program(TARVENOR_MINGW_STRIP x86_64-w64-mingw32-strip REQUIRED)
    find_program(TARVENOR_DPKG_QUERY dpkg-query REQUIRED)
    string(REGEX MATCH "^[0-9]+" gcc_major "${CMAKE_CXX_COMPILER_VERSION}")
    file(GLOB licence_texts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/release/licenses/*.txt)
    tarvenor_windows_dll_dirs(dll_dirs)
    string(REPLACE ";" "|" dll_dirs "${dll_dirs}")
    set(folder ${CMAKE_BINARY_DIR}/tarvenor-unit-editor)
    set(zip ${CMAKE_BINARY_DIR}/tarvenor-unit-editor-windows-x86_64.zip)
    add_custom_command(OUTPUT ${zip}
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}> -DQT_PLUGINS=$<TARGET_FILE_DIR:Qt6::Core>/../plugins
                "-DDLL_DIRS=${dll_dirs}" -DOBJDUMP=${TARVENOR_MINGW_OBJDUMP} -DSTRIP=${TARVENOR_MINGW_STRIP}
                -DDPKG_QUERY=${TARVENOR_DPKG_QUERY} -DQT_VERSION=${Qt6_VERSION} -DGCC_VERSION=${gcc_major}
                -DBUILD_QT_SCRIPT=${PROJECT_SOURCE_DIR}/tools/build_qt_windows.sh
                -DFOLDER=${folder} -DZIP=${zip} -P ${PROJECT_SOURCE_DIR}/cmake/deploy_windows_folder.cmake
        DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/deploy_windows_folder.cmake
                ${PROJECT_SOURCE_DIR}/cmake/release_notice.cmake ${PROJECT_SOURCE_DIR}/tools/build_qt_windows.sh
                ${licence_texts}
        COMMENT "Deploy folder and zip of the Windows editor"
        VERBATIM)
    add_custom_target(windows_deploy ALL DEPENDS ${zip})
    add_test(NAME windows_deploy_imports
             COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} -DOBJDUMP=${TARVENOR_MINGW_OBJDUMP}
                     -P ${PROJECT_SOURCE_DIR}/cmake/check_windows_imports.cmake)
    set_tests_properties(windows_deploy_imports PROPERTIES LABELS deploy)
endfunction()
