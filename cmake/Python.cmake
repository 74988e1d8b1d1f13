# Finds what the Python module needs: Debian's /usr/bin/python3 with its
# development files and NumPy, and pybind11. Sets QEL_PYTHON to OFF, with one
# status line, when something is missing, so the rest builds without it.
#
# QEL_PYTHON_INSTALL_DIR (relative to the install prefix) is where the
# interpreter looks for packages of that prefix:
#   /usr                         lib/python3/dist-packages   (Debian's own packages)
#   any other prefix on Debian   lib/python3.X/dist-packages (/usr/local's, searched by default)
#   elsewhere                    the interpreter's purelib for the prefix

if(QEL_SANITIZE OR QEL_FUZZ)
  # A sanitized extension would need the sanitizer runtime preloaded into python.
  message(STATUS "Python module: skipped in sanitizer and fuzz builds")
  set(QEL_PYTHON OFF)
  return()
endif()

# Debian's interpreter, not whatever python3 comes first on PATH (pyenv, conda):
# the module is built for the python3-numpy and python3-dask of the system.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The interpreter the module is built for")
endif()
find_package(Python3 COMPONENTS Interpreter Development.Module NumPy QUIET)
if(Python3_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(STATUS "Python module: skipped (needs python3-dev, python3-numpy and pybind11-dev)")
  set(QEL_PYTHON OFF)
  return()
endif()

if(NOT DEFINED QEL_PYTHON_INSTALL_DIR)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c [=[
import os, sys, sysconfig
prefix = os.path.normpath(sys.argv[1])
if 'deb_system' in sysconfig.get_scheme_names():
    print('lib/python3/dist-packages' if prefix == '/usr'
          else 'lib/python%d.%d/dist-packages' % sys.version_info[:2])
else:
    path = sysconfig.get_path('platlib', 'posix_prefix', vars={'base': prefix, 'platbase': prefix})
    print(os.path.relpath(path, prefix))
]=] ${CMAKE_INSTALL_PREFIX}
    OUTPUT_VARIABLE qel_python_dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE qel_python_rc)
  if(NOT qel_python_rc EQUAL 0 OR qel_python_dir STREQUAL "")
    set(qel_python_dir lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/site-packages)
  endif()
  set(QEL_PYTHON_INSTALL_DIR ${qel_python_dir} CACHE STRING "Where `cmake --install` puts the qelstats package, relative to the prefix")
endif()
file(RELATIVE_PATH QEL_PYTHON_RPATH_TO_LIBDIR
  ${CMAKE_INSTALL_PREFIX}/${QEL_PYTHON_INSTALL_DIR}/qelstats ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
message(STATUS "Python module: qelstats for ${Python3_EXECUTABLE} (${Python3_VERSION}), installed into <prefix>/${QEL_PYTHON_INSTALL_DIR}")
