# Installs the build into a scratch prefix and checks that every shipped file lands where the
# programs and the desktop look for it.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(expected bin/tromel-check bin/cvars.ini)
if(GUI)
    list(APPEND expected bin/TromelRimbolt share/applications/TromelRimbolt.desktop
        share/icons/hicolor/128x128/apps/TromelRimbolt.png)
endif()
foreach(f ${expected})
    if(NOT EXISTS ${PREFIX}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
