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

# qel_add_install_test(<name> <script> <work folder> [VAR=VALUE ...]): a test
# that runs the CMake script <script> of this folder on the build tree, with a
# scratch folder under it and the script's own settings. The install tests
# install the build tree, so they take turns.
function(qel_add_install_test name script work)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DWORK_DIR=${PROJECT_BINARY_DIR}/${work}
      -DGENERATOR=${CMAKE_GENERATOR}
      ${ARGN}
      -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 RESOURCE_LOCK install_tree)
endfunction()

if(QEL_BUILD_TESTS)
  # Install into a scratch prefix, build examples/client against it (with
  # CMake and with pkg-config) and run it: it creates a class by ProgID and
  # runs it.
  qel_add_install_test(install_package_example InstallTest.cmake install-test -DLIBDIR=${CMAKE_INSTALL_LIBDIR})
  # The same for the programs of examples/api, on the engine library.
  qel_add_install_test(install_api_examples InstallApiTest.cmake install-api-test -DLIBDIR=${CMAKE_INSTALL_LIBDIR})
  # Makes the Debian packages with cpack, installs them into a scratch root
  # (the running system is left alone) and runs qelstats and the packaged
  # example from there. Label "deb": `ctest -LE deb` leaves it out; without
  # dpkg-deb it reports itself skipped.
  qel_add_install_test(deb_packages DebInstallTest.cmake deb-test -DMULTIARCH=${CMAKE_LIBRARY_ARCHITECTURE})
  set_tests_properties(deb_packages PROPERTIES TIMEOUT 900 LABELS deb SKIP_REGULAR_EXPRESSION "SKIPPED:")
endif()
