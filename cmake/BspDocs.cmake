# The API reference from the public headers and the host-service contract (target `docs`,
# output in docs/html of the build folder). Defined whether or not Doxygen is installed:
# without it the target says what to install and fails.
set(BSP_DOCS_DIR ${CMAKE_CURRENT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/cmake/Doxyfile.in ${BSP_DOCS_DIR}/Doxyfile @ONLY)
add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -DDOXYFILE=${BSP_DOCS_DIR}/Doxyfile -DOUTPUT=${BSP_DOCS_DIR}
            -DSYMBOLS=${PROJECT_SOURCE_DIR}/tests/contract/exported_symbols.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/BspDocsRun.cmake
    COMMENT "API reference in ${BSP_DOCS_DIR}/html"
    VERBATIM)
