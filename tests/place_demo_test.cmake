# The build places the demo rules file beside the editor only where none is:
# a file the user has edited survives every rebuild.
set(folder "${WORK}/place-demo-test")
file(REMOVE_RECURSE "${folder}")
file(WRITE "${folder}/demo.xml" "demo")
set(destination "${folder}/app/data/unitrules.xml")

execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE=${folder}/demo.xml -DDESTINATION=${destination} -P ${SCRIPT})
file(READ "${destination}" placed)
if(NOT placed STREQUAL "demo")
    message(FATAL_ERROR "demo file not placed: '${placed}'")
endif()

file(WRITE "${destination}" "edited by the user")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE=${folder}/demo.xml -DDESTINATION=${destination} -P ${SCRIPT})
file(READ "${destination}" kept)
if(NOT kept STREQUAL "edited by the user")
    message(FATAL_ERROR "an edited rules file was overwritten")
endif()
file(REMOVE_RECURSE "${folder}")
