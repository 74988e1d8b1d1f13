# Installation as a package: find_package(qelStatsLib) with namespaced targets,
# and a pkg-config file. The targets themselves install their files; this adds
# the package description and a test that builds an outside client against an
# installed copy.
include(CMakePackageConfigHelpers)

set(QEL_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qelStatsLib)

install(EXPORT qelStatsLibTargets
  NAMESPACE qelStatsLib::
  FILE qelStatsLibTargets.cmake
  DESTINATION ${QEL_CMAKE_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qelStatsLibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qelStatsLibConfig.cmake
  INSTALL_DESTINATION ${QEL_CMAKE_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qelStatsLibConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/qelStatsLibConfig.cmake
  ${PROJECT_BINARY_DIR}/qelStatsLibConfigVersion.cmake
  DESTINATION ${QEL_CMAKE_PACKAGE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/qelStatsLib.pc.in ${PROJECT_BINARY_DIR}/qelStatsLib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qelStatsLib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Install into a scratch prefix, build examples/client against it (with CMake
# and with pkg-config) and run it: it creates a class by ProgID and runs it.
if(QEL_BUILD_TESTS)
  add_test(NAME install_package_example
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-test
      -DGENERATOR=${CMAKE_GENERATOR}
      -P ${CMAKE_CURRENT_LIST_DIR}/InstallTest.cmake)
  set_tests_properties(install_package_example PROPERTIES TIMEOUT 600)
endif()
