# Debian packages: `cpack -G DEB` in the build tree (or scripts/make-debs.sh)
# makes one package per install component, for a /usr install:
#
#   libqeldata7            libqeldata.so.7        the recordset layer
#   libqelcom7             libqelcom.so.7         the component layer
#   libqelstatslib-engine7 libqelStatsLib-engine.so.7   the statistics API of <qel/qel.h>
#   qelstatslib-component  libqelStatsLib.so, qelregsvr   the component library
#   libqelstatslib-dev     headers, CMake package, pkg-config file, namelinks, example
#   qelstats               the command line
#   vesquindemo            the desktop program, its menu entry, icon, datasets, help
#
# Dependencies on Debian's packages come from dpkg-shlibdeps (the ELF files'
# needs); dependencies between these packages are declared below, at the exact
# version, since they are built together. The component library is loaded
# with dlopen, which no tool can see: its users name it themselves.
#
# Adding a package is one qel_deb_package() call for an install component.
# The installed engine library, for example, needs only
#   install(TARGETS qelengine_shared EXPORT qelStatsLibTargets
#           LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libqelengine NAMELINK_COMPONENT dev)
# beside its target, and here
#   qel_deb_package(libqelengine PACKAGE libqelstatslib-engine${PROJECT_VERSION_MAJOR} SECTION libs ...)
# plus its name in the DEPENDS of `dev`.

set(QEL_DEB_SOVERSION ${PROJECT_VERSION_MAJOR})
set(QEL_DEB_COMPONENTS)
set(QEL_DEB_DIR ${CMAKE_CURRENT_LIST_DIR}/deb)

# qel_deb_package(<component> PACKAGE <name> SECTION <section> SUMMARY <line>
#                 DESCRIPTION <text> [DEPENDS <component>...] [EXTRA_DEPENDS <debian relation>...]
#                 [RECOMMENDS ...] [SUGGESTS ...] [SHARED_LIBRARY])
# SHARED_LIBRARY: the package ships a versioned library in the loader's path;
# it gets a shlibs file and the ldconfig trigger.
function(qel_deb_package component)
  cmake_parse_arguments(ARG "SHARED_LIBRARY" "PACKAGE;SECTION;SUMMARY;DESCRIPTION"
                        "DEPENDS;EXTRA_DEPENDS;RECOMMENDS;SUGGESTS" ${ARGN})
  string(TOUPPER ${component} up)
  set(QEL_DEB_COMPONENTS ${QEL_DEB_COMPONENTS} ${component} PARENT_SCOPE)
  set(CPACK_COMPONENT_${up}_DISPLAY_NAME "${ARG_PACKAGE}" PARENT_SCOPE)
  set(CPACK_COMPONENT_${up}_DESCRIPTION "${ARG_SUMMARY}\n${ARG_DESCRIPTION}" PARENT_SCOPE)
  set(CPACK_COMPONENT_${up}_DEPENDS ${ARG_DEPENDS} PARENT_SCOPE)
  set(CPACK_DEBIAN_${up}_PACKAGE_NAME ${ARG_PACKAGE} PARENT_SCOPE)
  set(CPACK_DEBIAN_${up}_PACKAGE_SECTION ${ARG_SECTION} PARENT_SCOPE)
  list(JOIN ARG_EXTRA_DEPENDS ", " depends)
  set(CPACK_DEBIAN_${up}_PACKAGE_DEPENDS "${depends}" PARENT_SCOPE)
  list(JOIN ARG_RECOMMENDS ", " recommends)
  set(CPACK_DEBIAN_${up}_PACKAGE_RECOMMENDS "${recommends}" PARENT_SCOPE)
  list(JOIN ARG_SUGGESTS ", " suggests)
  set(CPACK_DEBIAN_${up}_PACKAGE_SUGGESTS "${suggests}" PARENT_SCOPE)
  if(ARG_SHARED_LIBRARY)
    set(CPACK_DEBIAN_${up}_PACKAGE_GENERATE_SHLIBS ON PARENT_SCOPE)
    # The loader's cache is refreshed by libc-bin's ldconfig trigger, the way
    # Debian's own library packages do it. These scripts replace the ones
    # CPack would write, which call ldconfig directly and so would rebuild the
    # running system's cache even when the packages go into another root.
    set(CPACK_DEBIAN_${up}_PACKAGE_CONTROL_EXTRA
        ${QEL_DEB_DIR}/triggers ${QEL_DEB_DIR}/postinst ${QEL_DEB_DIR}/postrm PARENT_SCOPE)
    set(CPACK_DEBIAN_${up}_PACKAGE_CONTROL_STRICT_PERMISSION ON PARENT_SCOPE)
  endif()
endfunction()

qel_deb_package(libqeldata SHARED_LIBRARY
  PACKAGE libqeldata${QEL_DEB_SOVERSION} SECTION libs
  SUMMARY "qelStatsLib recordsets: CSV folders, SQLite and ODBC tables"
  DESCRIPTION "The recordset layer of qelStatsLib: connections, cursors and typed fields over a folder of CSV files, an SQLite file or any unixODBC data source."
  SUGGESTS odbc-postgresql libsqliteodbc)
qel_deb_package(libqelcom SHARED_LIBRARY
  PACKAGE libqelcom${QEL_DEB_SOVERSION} SECTION libs
  SUMMARY "qelStatsLib component layer: class identities, interfaces, activation"
  DESCRIPTION "Creates component classes by class identity or ProgID from a registry file or from the library beside a program, and calls them through dual interfaces."
  DEPENDS libqeldata)
qel_deb_package(libqelengine SHARED_LIBRARY
  PACKAGE libqelstatslib-engine${QEL_DEB_SOVERSION} SECTION libs
  SUMMARY "qelStatsLib statistics for C++ programs: univariate, outliers, segmentation"
  DESCRIPTION "libqelStatsLib-engine: qel::Univariate, qel::Outlier and qel::Bivariate over arrays, tables and mergeable tallies, and the scalar functions, with record-order results identical to the component classes."
  DEPENDS libqeldata)
qel_deb_package(component
  PACKAGE qelstatslib-component SECTION science
  SUMMARY "qelStatsLib statistics classes as an in-process component library"
  DESCRIPTION "libqelStatsLib.so: QelUnivariate, QelOutlier, QelBivariate and QelStatFctn, created at run time by programs through the component layer, and qelregsvr, which registers the library for a user."
  DEPENDS libqelcom libqeldata)
qel_deb_package(dev
  PACKAGE libqelstatslib-dev SECTION libdevel
  SUMMARY "qelStatsLib development files"
  DESCRIPTION "Headers of the statistics API (qel/), the component interfaces, the component layer and the recordsets, the CMake package (find_package(qelStatsLib)), the pkg-config file and example programs."
  DEPENDS libqelengine libqelcom libqeldata component
  SUGGESTS cmake pkg-config)
qel_deb_package(qelstats
  PACKAGE qelstats SECTION science
  SUMMARY "Command-line statistics over CSV files and databases"
  DESCRIPTION "qelstats computes univariate statistics, outliers, bivariate segmentations and scalar functions over a CSV file, an SQLite file or an ODBC table, as text or JSON."
  DEPENDS libqeldata
  SUGGESTS odbc-postgresql libsqliteodbc)
if(TARGET VesquinDemo)
  qel_deb_package(vesquindemo
    PACKAGE vesquindemo SECTION science
    SUMMARY "Desktop demonstration of the qelStatsLib statistics classes"
    DESCRIPTION "A Qt program that opens the bundled BaseBall and College datasets and runs the univariate, outlier and bivariate analyses from its tabs, with a help book."
    # The statistics classes are created at run time from the component
    # library; Qt's help engine keeps its book in SQLite through the Qt plugin.
    DEPENDS component libqelcom libqeldata
    EXTRA_DEPENDS libqt6sql6-sqlite)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qelstatslib)
set(CPACK_PACKAGE_VENDOR "qelStatsLib developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Data Mining Statistical Library")
set(CPACK_PACKAGE_CONTACT "qelStatsLib developers <maintainers@qelstatslib.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QEL_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are in other packages of this set: dpkg-shlibdeps finds
# them in the build tree and leaves them to the declared dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
include(CPack)
