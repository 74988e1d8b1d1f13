# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DLIBDIR=... -P InstallTest.cmake
# Installs the build into WORK_DIR/prefix and follows examples/client's
# CMakeLists as a user would: builds it against the installed package, sees it
# fail while the library is neither registered nor beside it, registers the
# installed library in a scratch registry and runs it, then runs it
# unregistered from the prefix's bin/; and the same through pkg-config.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptHelpers.cmake)


file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f bin/qelregsvr bin/qelstats include/qelcom/interfaces.h include/qelcom/variant.h
          include/qeldata/recordset.h include/qelStatsLib/QelStatsLib.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
set(component ${prefix}/${LIBDIR}/libqelStatsLib.so)
if(NOT EXISTS ${component})
  message(FATAL_ERROR "libqelStatsLib.so not installed in ${LIBDIR}")
endif()
set(pc_dir ${prefix}/${LIBDIR}/pkgconfig)
set(datasets ${SOURCE_DIR}/VesquinDemo/datasets)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/client -B ${WORK_DIR}/client -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
if(NOT last_output MATCHES "qelregsvr ${component}")
  message(FATAL_ERROR "the example does not say how to register the library: ${last_output}")
endif()
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)

# Neither registered nor beside the program: the documented failure.
set(ENV{QEL_REGISTRY} ${WORK_DIR}/registry)
execute_process(COMMAND ${WORK_DIR}/client/qel_client ${datasets} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(rc EQUAL 0 OR NOT err MATCHES "No class is registered as 'QelStatsLib.QelUnivariate'")
  message(FATAL_ERROR "an unregistered library was found (${rc}): ${err}")
endif()

run(${prefix}/bin/qelregsvr -s ${component})
run(${WORK_DIR}/client/qel_client ${datasets})
message(STATUS "client (CMake package, registered): ${last_output}")
check_client_output()

# Unregistered, an installed host finds the library in ../<libdir> beside its bin/.
file(COPY ${WORK_DIR}/client/qel_client DESTINATION ${prefix}/bin)
set(ENV{QEL_REGISTRY} ${WORK_DIR}/no-registry)
run(${prefix}/bin/qel_client ${datasets})
message(STATUS "client (unregistered, from bin/): ${last_output}")
check_client_output()
set(ENV{QEL_REGISTRY} ${WORK_DIR}/registry)

# The same client through pkg-config.
find_program(PKG_CONFIG pkg-config)
find_program(CXX NAMES c++ g++)
if(PKG_CONFIG AND CXX)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs qelStatsLib)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} -std=c++20 ${SOURCE_DIR}/examples/client/main.cpp -o ${WORK_DIR}/client_pc ${flags} -ldl)
  run(${WORK_DIR}/client_pc ${datasets})
  message(STATUS "client (pkg-config): ${last_output}")
  check_client_output()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
