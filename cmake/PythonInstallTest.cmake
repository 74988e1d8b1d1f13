# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DLIBDIR=... -DPYDIR=... -DPYTHON=... -P PythonInstallTest.cmake
# Installs the build into WORK_DIR/prefix and uses it as an installed copy is
# used: every installed shared library finds the others through its own
# search path ($ORIGIN: they sit in one folder), and the Python module imports
# and runs from the prefix with no LD_LIBRARY_PATH.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptHelpers.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# A library's search path is its own folder, never the programs' ../<libdir>.
find_program(READELF readelf)
file(GLOB libraries ${prefix}/${LIBDIR}/*.so.*)
foreach(lib IN LISTS libraries)
  if(IS_SYMLINK ${lib} OR NOT READELF)
    continue()
  endif()
  run(${READELF} -d ${lib})
  if(last_output MATCHES "(RPATH|RUNPATH)[^\n]*\\[([^]]*)\\]" AND NOT CMAKE_MATCH_2 STREQUAL "$ORIGIN")
    message(FATAL_ERROR "${lib} searches ${CMAKE_MATCH_2}, not its own folder ($ORIGIN)")
  endif()
endforeach()

# The engine library loaded on its own (its dependencies by its own search
# path, not the extension's), then the module from the prefix (-P: not from
# the working folder, which may be the build tree's package).
unset(ENV{LD_LIBRARY_PATH})
set(ENV{PYTHONPATH} ${prefix}/${PYDIR})
set(ENV{PYTHONDONTWRITEBYTECODE} 1)
file(GLOB engine ${prefix}/${LIBDIR}/libqelStatsLib-engine.so.*.*)
run(${PYTHON} -P -c "import ctypes, sys; ctypes.CDLL(sys.argv[1])" ${engine})
run(${PYTHON} -P -c "
import qelstats, sys
assert qelstats.__file__.startswith(sys.argv[1]), qelstats.__file__
r = qelstats.univariate([1, 2, 2, 3, 10])
assert r.ok and r.Mean == 3.6 and r.Median == 2, r
b = qelstats.bivariate([1, 2, 3, 4], [1.0, 2.0, 3.0, 4.0], bins=2)
assert b.ok and len(b.ResultSet) == 2, b
print('qelstats from', qelstats.__file__)
" ${prefix})
message(STATUS "${last_output}")
file(REMOVE_RECURSE ${WORK_DIR})
