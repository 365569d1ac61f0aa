# The Linux editor as one folder that runs on a desktop without Qt: the
# executable with the Qt it was built against, zipped up as a tarball beside
# the Windows zip.
include_guard(GLOBAL)

# Target linux_deploy (part of the default build): <build>/tarvenor-unit-editor/
# holding the executable, qt.conf and tarvenor-unit-editor-libs/ (the Qt
# libraries, plugins and Chinese font it loads), and
# <build>/tarvenor-unit-editor-linux-x86_64.tar.gz of that folder.
function(tarvenor_linux_deploy target)
    find_program(TARVENOR_OBJDUMP objdump REQUIRED)
    find_program(TARVENOR_STRIP strip REQUIRED)
    find_program(TARVENOR_DPKG_QUERY dpkg-query REQUIRED)
    set(font /usr/share/fonts/truetype/wqy/wqy-microhei.ttc)
    if(NOT EXISTS ${font})
        message(FATAL_ERROR "the Linux folder bundles ${font} (Debian's fonts-wqy-microhei)")
    endif()
    set(lib_dirs "$<TARGET_FILE_DIR:Qt6::Core>|/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}|/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
    file(GLOB licence_texts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/release/licenses/*.txt)
    set(folder ${CMAKE_BINARY_DIR}/tarvenor-unit-editor)
    set(tarball ${CMAKE_BINARY_DIR}/tarvenor-unit-editor-linux-x86_64.tar.gz)
    add_custom_command(OUTPUT ${tarball}
        COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}> -DQT_PLUGINS=${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}
                "-DLIB_DIRS=${lib_dirs}" -DFONT=${font} -DOBJDUMP=${TARVENOR_OBJDUMP} -DSTRIP=${TARVENOR_STRIP}
                -DPATCHELF=${TARVENOR_PATCHELF} -DDPKG_QUERY=${TARVENOR_DPKG_QUERY}
                -DQT_VERSION=${Qt6_VERSION} -DFOLDER=${folder} -DTARBALL=${tarball}
                -P ${PROJECT_SOURCE_DIR}/cmake/deploy_linux_folder.cmake
        DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/deploy_linux_folder.cmake
                ${PROJECT_SOURCE_DIR}/cmake/release_notice.cmake ${licence_texts}
        COMMENT "Folder and tarball of the Linux editor"
        VERBATIM)
    add_custom_target(linux_deploy ALL DEPENDS ${tarball})
endfunction()
