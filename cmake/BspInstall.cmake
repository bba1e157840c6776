# What `cmake --install` delivers: the library with its SONAME, the public headers, the
# host-service declarations a hosting application implements, the host layer for plain
# Linux, the simulated host for off-target development, a pkg-config file for each, and the
# CMake package bsp_ctrl.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BSP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bsp_ctrl)

install(TARGETS bsp_ctrl EXPORT bsp_ctrlTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/bsp_ctrl DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES platform/bsp_os.h platform/bsp_board.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/bsp_ctrl/platform)

# The host layer, for a unit whose application has no OS layer of its own.
install(TARGETS bsp_host_archive ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY host/include/bsp_host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS bsp_sim_archive ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The shell is what a first build makes (./bspsim); it brings the archive along so that an
# install right after it finds everything it delivers.
add_dependencies(bspsim bsp_sim_archive bsp_host_archive)
install(DIRECTORY sim/include/bsp_sim DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT bsp_ctrlTargets NAMESPACE bsp_ctrl:: DESTINATION ${BSP_CMAKE_DIR})
configure_package_config_file(cmake/bsp_ctrlConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/bsp_ctrlConfig.cmake INSTALL_DESTINATION ${BSP_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/bsp_ctrlConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/bsp_ctrlConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/bsp_ctrlConfigVersion.cmake
        DESTINATION ${BSP_CMAKE_DIR})

foreach(pc bsp_ctrl bsp_host bsp_sim)
    configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
