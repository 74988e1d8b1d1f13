# cmake -DBUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... -DMULTIARCH=... [-DSOURCE_DIR=...] -P DebInstallTest.cmake
# Makes the Debian packages of the build with cpack, checks their contents and
# dependencies, installs them into a scratch root and runs what they installed
# from there: qelstats on the packaged BaseBall.csv, and the packaged example
# host built against the packaged development files.
#
# How the packages are installed. The real system is never touched: no
# apt-get, no dpkg on /. A chroot would need a whole Debian (and root) inside
# WORK_DIR; instead dpkg installs into the scratch root with --root, which
# puts both the files and dpkg's database there. The database starts as a copy
# of the running system's package list, so dpkg checks every Depends line of
# our packages, those between them and those on Debian's libraries, against
# the libraries the installed programs will really load (they run from the
# scratch root without a chroot, on this system's libc, Qt and unixODBC).
# --force-script-chrootless runs maintainer scripts without chroot: ours are
# no-ops (the ldconfig trigger replaces them), which is also why they are safe.
# --force-not-root lets a developer run the test as a user. Where dpkg cannot
# run (no package database on this system), the packages are unpacked with
# dpkg-deb -x, which checks no dependencies.
#
# The programs find their libraries through their RUNPATH ($ORIGIN/../<libdir>),
# so the test clears LD_LIBRARY_PATH and checks with ldd that every library of
# ours comes from the scratch root.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptHelpers.cmake)

foreach(tool dpkg-deb dpkg-shlibdeps)
  find_program(${tool}_path ${tool})
  if(NOT ${tool}_path)
    message("SKIPPED: ${tool} not found (Debian's dpkg-dev package)")
    return()
  endif()
endforeach()
find_program(DPKG dpkg)
get_filename_component(cmake_bin ${CMAKE_COMMAND} DIRECTORY)
find_program(CPACK cpack HINTS ${cmake_bin} REQUIRED)
unset(ENV{LD_LIBRARY_PATH})

file(REMOVE_RECURSE ${WORK_DIR})
set(debs_dir ${WORK_DIR}/debs)
run(${CPACK} -G DEB -B ${debs_dir} --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB debs ${debs_dir}/*.deb)

# The packages, their dependencies and where their files go.
set(lib /usr/lib/${MULTIARCH})
function(check_package name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;FILES" ${ARGN})
  file(GLOB deb ${debs_dir}/${name}_*.deb)
  if(NOT deb)
    message(FATAL_ERROR "no package ${name} among: ${debs}")
  endif()
  run(dpkg-deb -f ${deb} Depends)
  set(depends "${last_output}")
  foreach(d IN LISTS ARG_DEPENDS)
    if(NOT depends MATCHES "(^|, )${d}")
      message(FATAL_ERROR "${name} does not depend on ${d}: Depends: ${depends}")
    endif()
  endforeach()
  run(dpkg-deb -c ${deb})
  foreach(f IN LISTS ARG_FILES)
    if(NOT last_output MATCHES " \\.${f}( |\n)")
      message(FATAL_ERROR "${name} does not hold ${f}:\n${last_output}")
    endif()
  endforeach()
  if(last_output MATCHES " \\./usr/bin/[^ \n]+/")
    message(FATAL_ERROR "${name} puts a folder into /usr/bin:\n${last_output}")
  endif()
  message(STATUS "${name}: Depends: ${depends}")
endfunction()

set(version "7\\.[0-9]+\\.[0-9]+-[0-9]+")
check_package(libqeldata7 DEPENDS libc6 libsqlite3-0 libodbc FILES ${lib}/libqeldata.so.7)
check_package(libqelcom7 DEPENDS "libqeldata7 \\(= ${version}\\)" libc6 FILES ${lib}/libqelcom.so.7)
check_package(qelstatslib-component DEPENDS "libqelcom7 \\(= ${version}\\)" "libqeldata7 \\(= ${version}\\)"
  FILES ${lib}/libqelStatsLib.so /usr/bin/qelregsvr)
check_package(libqelstatslib-dev
  DEPENDS "libqelcom7 \\(= ${version}\\)" "libqeldata7 \\(= ${version}\\)" "qelstatslib-component \\(= ${version}\\)"
  FILES ${lib}/libqelcom.so ${lib}/libqeldata.so /usr/include/qelStatsLib/QelStatsLib.h
        ${lib}/cmake/qelStatsLib/qelStatsLibConfig.cmake ${lib}/pkgconfig/qelStatsLib.pc
        /usr/share/doc/libqelstatslib-dev/examples/client/main.cpp)
check_package(qelstats DEPENDS "libqeldata7 \\(= ${version}\\)" libc6 FILES /usr/bin/qelstats)
file(GLOB with_demo ${debs_dir}/vesquindemo_*.deb)
if(with_demo)
  check_package(vesquindemo DEPENDS "qelstatslib-component \\(= ${version}\\)" libqt6widgets6 libqt6help6
    libqt6sql6-sqlite
    FILES /usr/bin/VesquinDemo /usr/share/applications/vesquindemo.desktop
          /usr/share/icons/hicolor/scalable/apps/vesquindemo.svg /usr/share/vesquindemo/datasets/BaseBall.csv
          /usr/share/vesquindemo/VesquinsLibHlp/VesquinLib.qhc)
endif()

# Into the scratch root.
set(root ${WORK_DIR}/root)
if(DPKG AND EXISTS /var/lib/dpkg/status)
  file(MAKE_DIRECTORY ${root}/var/lib/dpkg/info ${root}/var/lib/dpkg/updates ${root}/var/lib/dpkg/triggers)
  file(COPY_FILE /var/lib/dpkg/status ${root}/var/lib/dpkg/status)
  file(TOUCH ${root}/var/lib/dpkg/available)
  run(${DPKG} --root=${root} --log=${WORK_DIR}/dpkg.log --force-not-root --force-script-chrootless
      --no-triggers --install ${debs})
  # Every package of ours configured (the copied list has no file lists,
  # so dpkg --audit would only complain about the system's packages).
  foreach(deb IN LISTS debs)
    run(dpkg-deb -f ${deb} Package)
    string(STRIP "${last_output}" package)
    run(dpkg-query --admindir=${root}/var/lib/dpkg -W -f=\${Status} ${package})
    if(NOT last_output STREQUAL "install ok installed")
      message(FATAL_ERROR "${package} in the scratch root: ${last_output}")
    endif()
  endforeach()
else()
  message(STATUS "no dpkg database on this system: unpacking without dependency checks")
  foreach(deb IN LISTS debs)
    run(dpkg-deb -x ${deb} ${root})
  endforeach()
endif()
set(usr ${root}/usr)

# Our libraries come from the scratch root, found by the programs themselves.
foreach(program qelstats qelregsvr)
  run(ldd ${usr}/bin/${program})
  string(REGEX MATCHALL "libqel[a-z]+\\.so[.0-9]* => [^ ]+" resolved "${last_output}")
  if(NOT resolved)
    message(FATAL_ERROR "${program} loads none of our libraries:\n${last_output}")
  endif()
  foreach(r IN LISTS resolved)
    if(NOT r MATCHES "=> ${usr}/")
      message(FATAL_ERROR "${program}: ${r} is not the scratch root's")
    endif()
  endforeach()
endforeach()

# qelstats on the packaged dataset, with the build tree's result.
set(datasets ${usr}/share/vesquindemo/datasets)
if(NOT with_demo)
  set(datasets ${SOURCE_DIR}/VesquinDemo/datasets)
endif()
set(univariate univariate --csv ${datasets}/BaseBall.csv --field Salary --json --no-progress)
run(${usr}/bin/qelstats ${univariate})
set(installed "${last_output}")
run(${BUILD_DIR}/bin/qelstats ${univariate})
if(NOT installed STREQUAL last_output OR NOT installed MATCHES "\"Mean\":")
  message(FATAL_ERROR "installed qelstats differs from the build's:\n${installed}\n${last_output}")
endif()
message(STATUS "installed qelstats univariate: ${installed}")

# The packaged example, built against the packaged development files as its
# CMakeLists says: register the component library, run; then from /usr/bin.
set(registry ${WORK_DIR}/registry)
set(ENV{QEL_REGISTRY} ${registry})
file(COPY ${usr}/share/doc/libqelstatslib-dev/examples/client DESTINATION ${WORK_DIR}/example)
run(${CMAKE_COMMAND} -S ${WORK_DIR}/example/client -B ${WORK_DIR}/example/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${usr} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example/build)
run(${usr}/bin/qelregsvr -s ${root}${lib}/libqelStatsLib.so)
run(${WORK_DIR}/example/build/qel_client ${datasets})
message(STATUS "packaged example, registered:\n${last_output}")
check_client_output()
file(COPY ${WORK_DIR}/example/build/qel_client DESTINATION ${usr}/bin)
set(ENV{QEL_REGISTRY} ${WORK_DIR}/no-registry)
run(${usr}/bin/qel_client ${datasets})
check_client_output()
message(STATUS "packaged example, unregistered from /usr/bin: found the library")

if(with_demo)
  # The program looks for its files beside itself, then by the path recorded
  # at build time; from /usr/bin that path must lead to the packaged files.
  file(STRINGS ${usr}/bin/VesquinDemo data_path REGEX "share/vesquindemo$" LIMIT_COUNT 1)
  if(NOT data_path OR NOT EXISTS ${usr}/bin/${data_path}/datasets/BaseBall.csv
     OR NOT EXISTS ${usr}/bin/${data_path}/VesquinsLibHlp/VesquinLib.qhc)
    message(FATAL_ERROR "VesquinDemo's data path '${data_path}' does not reach its packaged files")
  endif()
  run(ldd ${usr}/bin/VesquinDemo)
  if(last_output MATCHES "not found")
    message(FATAL_ERROR "VesquinDemo misses libraries:\n${last_output}")
  endif()
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    run(${DESKTOP_FILE_VALIDATE} ${usr}/share/applications/vesquindemo.desktop)
  endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
