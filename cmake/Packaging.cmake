# Installation as a package: find_package(qelStatsLib) with namespaced targets,
# and a pkg-config file. The targets themselves install their files; this adds
# the package description, the Debian packages (Deb.cmake) and the tests that
# build an outside client against an installed copy.
#
# Every installed path is relative to the prefix (programs find the libraries
# by $ORIGIN, the package files find the prefix from their own place), so one
# build installs anywhere: /usr/local, a scratch prefix, or /usr through cpack.
include(CMakePackageConfigHelpers)

# The shared libraries find each other beside themselves (the component
# library loads into any host); the programs' ../<libdir> comes from
# CMAKE_INSTALL_RPATH. For /usr both resolve into the loader's own path.
foreach(lib qelcom qeldata qelStatsLib qelapi)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endforeach()

set(QEL_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qelStatsLib)

install(EXPORT qelStatsLibTargets
  NAMESPACE qelStatsLib::
  FILE qelStatsLibTargets.cmake
  DESTINATION ${QEL_CMAKE_PACKAGE_DIR}
  COMPONENT dev)

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
  DESTINATION ${QEL_CMAKE_PACKAGE_DIR}
  COMPONENT dev)

# The .pc file finds the prefix from its own folder, however deep the libdir.
file(RELATIVE_PATH QEL_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QEL_PC_TO_PREFIX "${QEL_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qelStatsLib.pc.in ${PROJECT_BINARY_DIR}/qelStatsLib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qelStatsLib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# The example host, where Debian keeps a package's examples.
set(QEL_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/doc/libqelstatslib-dev/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/client ${PROJECT_SOURCE_DIR}/examples/api
        DESTINATION ${QEL_EXAMPLES_DIR} COMPONENT dev)

include(${CMAKE_CURRENT_LIST_DIR}/Deb.cmake)

# Install into a scratch prefix, build examples/client against it (with CMake
# and with pkg-config) and run it: it creates a class by ProgID and runs it.
if(QEL_BUILD_TESTS)
  add_test(NAME install_package_example
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-test
      -DGENERATOR=${CMAKE_GENERATOR}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/InstallTest.cmake)
  set_tests_properties(install_package_example PROPERTIES TIMEOUT 600)
  # The same for the programs of examples/api, on the engine library.
  add_test(NAME install_api_examples
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-api-test
      -DGENERATOR=${CMAKE_GENERATOR}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/InstallApiTest.cmake)
  set_tests_properties(install_api_examples PROPERTIES TIMEOUT 600 RESOURCE_LOCK install_tree)
endif()

# Makes the Debian packages with cpack, installs them into a scratch root (the
# running system is left alone) and runs qelstats and the packaged example
# from there. Label "deb": `ctest -LE deb` leaves it out; without dpkg-deb it
# reports itself skipped.
if(QEL_BUILD_TESTS)
  add_test(NAME deb_packages
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/deb-test
      -DGENERATOR=${CMAKE_GENERATOR}
      -DMULTIARCH=${CMAKE_LIBRARY_ARCHITECTURE}
      -P ${CMAKE_CURRENT_LIST_DIR}/DebInstallTest.cmake)
  set_tests_properties(deb_packages PROPERTIES TIMEOUT 900 LABELS deb SKIP_REGULAR_EXPRESSION "SKIPPED:"
    # Both tests install the build: one at a time.
    RESOURCE_LOCK install_tree)
  set_tests_properties(install_package_example PROPERTIES RESOURCE_LOCK install_tree)
endif()
