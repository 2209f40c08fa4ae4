# What `cmake --install` puts in place (GNUInstallDirs layout): the library with its version and
# SONAME links, the header, the tool, a CMake package (ravlink::ravlink) and ravlink.pc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS ravlink64 EXPORT ravlinkTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ravlink.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET ravlink)
  install(TARGETS ravlink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(RAVLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ravlink)
install(EXPORT ravlinkTargets NAMESPACE ravlink:: DESTINATION ${RAVLINK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ravlinkConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ravlinkConfig.cmake INSTALL_DESTINATION ${RAVLINK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ravlinkConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ravlinkConfig.cmake ${PROJECT_BINARY_DIR}/ravlinkConfigVersion.cmake
        DESTINATION ${RAVLINK_CMAKE_DIR})

# ravlink.pc finds its prefix from its own folder, so that `cmake --install --prefix P` (which
# does not reconfigure) gives a file that is right wherever the tree was put.
set(RAVLINK_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH RAVLINK_PC_TO_PREFIX /root/${RAVLINK_PC_DIR} /root)
string(REGEX REPLACE "/$" "" RAVLINK_PC_TO_PREFIX "${RAVLINK_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ravlink.pc.in ${PROJECT_BINARY_DIR}/ravlink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ravlink.pc DESTINATION ${RAVLINK_PC_DIR})
