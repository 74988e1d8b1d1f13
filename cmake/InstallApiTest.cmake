# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DLIBDIR=... -P InstallApiTest.cmake
# Installs the build into WORK_DIR/prefix, builds examples/api against it with
# find_package and with pkg-config, runs every program on BaseBall.csv and
# checks each against qelstats --json of the same installation.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptHelpers.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/qel/qel.h ${LIBDIR}/libqelStatsLib-engine.so ${LIBDIR}/libqelStatsLib-engine.so.7)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
set(csv ${SOURCE_DIR}/VesquinDemo/datasets/BaseBall.csv)

# What each program must print, from the installed command line.
run(${prefix}/bin/qelstats univariate --csv ${csv} --field Salary --json --no-progress)
string(JSON mean GET "${last_output}" Mean)
string(JSON n GET "${last_output}" N)
run(${prefix}/bin/qelstats outlier --csv ${csv} --field Salary --rule std --parm 3 --json --no-progress)
string(JSON outliers GET "${last_output}" OutlierCountN)
run(${prefix}/bin/qelstats bivariate --csv ${csv} --predictor AB --target Salary --bins 4 --json --no-progress)
string(JSON bin4 GET "${last_output}" ResultSet rows 3 5)

# check_examples(<dir>): runs the three programs built in <dir>.
function(check_examples dir)
  run(${dir}/univariate ${csv} Salary)
  if(NOT last_output MATCHES "^Salary: N ${n}, Mean ")
    message(FATAL_ERROR "univariate: ${last_output}")
  endif()
  # %.17g and the shortest round trip write one double differently: compare the numbers.
  string(REGEX MATCH "Mean ([-0-9.e+]+)" _ "${last_output}")
  execute_process(COMMAND python3 -c "import sys; sys.exit(float('${CMAKE_MATCH_1}') != float('${mean}'))"
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "univariate Mean ${CMAKE_MATCH_1}, qelstats ${mean}")
  endif()
  run(${dir}/outlier ${csv} Salary 3)
  if(NOT last_output MATCHES "^${outliers} outlying records of ${n} ")
    message(FATAL_ERROR "outlier: ${last_output}")
  endif()
  run(${dir}/bivariate ${csv} AB Salary 4)
  if(NOT last_output MATCHES "\nbin 4: N [0-9]+, Mean [0-9.]+, Index ${bin4}\n")
    message(FATAL_ERROR "bivariate: ${last_output}")
  endif()
  message(STATUS "${dir}: ${last_output}")
endfunction()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/api -B ${WORK_DIR}/cmake -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
check_examples(${WORK_DIR}/cmake)

find_program(PKG_CONFIG pkg-config)
find_program(CXX NAMES c++ g++)
if(PKG_CONFIG AND CXX)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs qelStatsLib)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(MAKE_DIRECTORY ${WORK_DIR}/pc)
  foreach(example univariate outlier bivariate)
    run(${CXX} -std=c++20 ${SOURCE_DIR}/examples/api/${example}.cpp -o ${WORK_DIR}/pc/${example} ${flags})
  endforeach()
  check_examples(${WORK_DIR}/pc)
endif()
file(REMOVE_RECURSE ${WORK_DIR})
