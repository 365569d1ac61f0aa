# cmake -DSOURCE=... -DDESTINATION=... -P place_demo.cmake
# Copies the demo rules file only when nothing is at DESTINATION yet.
if(NOT EXISTS "${DESTINATION}")
    get_filename_component(folder "${DESTINATION}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(COPY_FILE "${SOURCE}" "${DESTINATION}")
    message(STATUS "Demo rules file placed at ${DESTINATION}")
endif()
