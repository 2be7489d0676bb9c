# Installs the library, the simulated platform it runs on, the public headers,
# a CMake package (find_package(ulm3) gives ulm3::ulm3) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The driver contract is header-only and stays in the source tree; the
# platform's target names it, so the export carries its (empty) target.
set(_ulm3_targets ulm3 tulx7_abi)
if(TARGET tulx7sim)
  list(APPEND _ulm3_targets tulx7sim)
  # The library finds the platform beside itself wherever the tree is moved.
  set_target_properties(ulm3 PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
set_target_properties(ulm3 PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(ulm3 PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS ${_ulm3_targets} EXPORT ulm3Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ulm3.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ulm3 DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

set(_ulm3_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ulm3)
install(EXPORT ulm3Targets NAMESPACE ulm3:: DESTINATION ${_ulm3_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ulm3Config.cmake.in
  ${PROJECT_BINARY_DIR}/ulm3Config.cmake INSTALL_DESTINATION ${_ulm3_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ulm3ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ulm3Config.cmake ${PROJECT_BINARY_DIR}/ulm3ConfigVersion.cmake
        DESTINATION ${_ulm3_cmake_dir})

# The pkg-config file finds the prefix from where it lies, so that the tree
# can be installed under any --prefix.
file(RELATIVE_PATH _ulm3_pc_to_prefix /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" _ulm3_pc_to_prefix "${_ulm3_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ulm3.pc.in ${PROJECT_BINARY_DIR}/ulm3.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ulm3.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
