# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -P InstallTest.cmake
# Installs the build into WORK_DIR/prefix, registers the installed library in a
# scratch registry, builds examples/client against the installed package and
# runs it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f bin/qelregsvr bin/qelstats include/qelcom/interfaces.h include/qelcom/variant.h
          include/qeldata/recordset.h include/qelStatsLib/QelStatsLib.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB component ${prefix}/lib*/libqelStatsLib.so)
if(NOT component)
  message(FATAL_ERROR "libqelStatsLib.so not installed")
endif()
file(GLOB pc_dir ${prefix}/lib*/pkgconfig)

set(ENV{QEL_REGISTRY} ${WORK_DIR}/registry)
run(${prefix}/bin/qelregsvr -s ${component})

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/client -B ${WORK_DIR}/client -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)
run(${WORK_DIR}/client/qel_client ${SOURCE_DIR}/VesquinDemo/datasets)
message(STATUS "client (CMake package): ${last_output}")
if(NOT last_output MATCHES "Mean of Salary")
  message(FATAL_ERROR "unexpected client output: ${last_output}")
endif()

# Unregistered, an installed host finds the library in ../lib beside its bin/.
file(COPY ${WORK_DIR}/client/qel_client DESTINATION ${prefix}/bin)
set(ENV{QEL_REGISTRY} ${WORK_DIR}/no-registry)
run(${prefix}/bin/qel_client ${SOURCE_DIR}/VesquinDemo/datasets)
message(STATUS "client (unregistered, from bin/): ${last_output}")
set(ENV{QEL_REGISTRY} ${WORK_DIR}/registry)

# The same client through pkg-config.
find_program(PKG_CONFIG pkg-config)
find_program(CXX NAMES c++ g++)
if(PKG_CONFIG AND CXX AND pc_dir)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs qelStatsLib)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} -std=c++20 ${SOURCE_DIR}/examples/client/main.cpp -o ${WORK_DIR}/client_pc ${flags} -ldl)
  run(${WORK_DIR}/client_pc ${SOURCE_DIR}/VesquinDemo/datasets)
  message(STATUS "client (pkg-config): ${last_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
