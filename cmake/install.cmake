# What `cmake --install` puts under the prefix: the shared and static libraries, the header, the
# tool, a CMake package (find_package(kip) gives kip::kip, and kip::kip_static) and kip.pc.
include(CMakePackageConfigHelpers)

install(TARGETS kip kip_static EXPORT kipTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/kip/kip.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kip)
if(TARGET kip_tool)
  install(TARGETS kip_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(KIP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kip)
install(EXPORT kipTargets NAMESPACE kip:: DESTINATION ${KIP_CMAKE_DIR})
configure_package_config_file(cmake/kipConfig.cmake.in ${PROJECT_BINARY_DIR}/kipConfig.cmake
  INSTALL_DESTINATION ${KIP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kipConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kipConfig.cmake ${PROJECT_BINARY_DIR}/kipConfigVersion.cmake
  DESTINATION ${KIP_CMAKE_DIR})

# kip.pc finds the prefix from its own place, so an installed tree can be moved.
file(RELATIVE_PATH KIP_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/kip.pc.in ${PROJECT_BINARY_DIR}/kip.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kip.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
