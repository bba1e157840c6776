# Runs Doxygen for the `docs` target: cmake -DDOXYFILE=... -P BspDocsRun.cmake. Doxygen is
# looked up when the target is built, so that installing it needs no new configuration.
find_program(BSP_DOXYGEN doxygen)
if(NOT BSP_DOXYGEN)
    message(FATAL_ERROR "docs: Doxygen is not installed; install it (apt install doxygen) "
                        "and build the docs target again")
endif()
execute_process(COMMAND ${BSP_DOXYGEN} ${DOXYFILE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "docs: doxygen ${DOXYFILE} failed (${status})")
endif()
