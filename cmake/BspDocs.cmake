# API reference from the public headers and the host-service contract (target `docs`),
# built only where Doxygen is installed.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
    set(DOXYGEN_PROJECT_NAME "bsp_ctrl")
    set(DOXYGEN_PROJECT_BRIEF "Board-support control library of the radio-link modem unit")
    set(DOXYGEN_USE_MDFILE_AS_MAINPAGE ${PROJECT_SOURCE_DIR}/docs/api.md)
    set(DOXYGEN_OPTIMIZE_OUTPUT_FOR_C YES)
    set(DOXYGEN_EXTRACT_ALL YES)
    set(DOXYGEN_SHOW_FILES YES)
    set(DOXYGEN_GENERATE_LATEX NO)
    set(DOXYGEN_WARN_IF_UNDOCUMENTED NO)
    set(DOXYGEN_MACRO_EXPANSION YES)
    set(DOXYGEN_PREDEFINED "BSP_API=" "BSP_EXTERN_C_BEGIN=" "BSP_EXTERN_C_END=")
    set(DOXYGEN_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/docs)
    doxygen_add_docs(docs
        ${PROJECT_SOURCE_DIR}/docs/api.md
        ${PROJECT_SOURCE_DIR}/include/bsp_ctrl
        ${PROJECT_SOURCE_DIR}/platform
        COMMENT "API reference in ${CMAKE_CURRENT_BINARY_DIR}/docs/html")
endif()
