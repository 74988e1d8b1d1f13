# cmake -DLIBRARY=<libqelStatsLib-engine.so> -P engine_symbols.cmake
# Fails unless `nm -D --defined-only` of the library lists exactly the public
# API of include/qel/: every exported name is one of it, and every public
# function is exported.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
set(functions ArcSin Secant CoSec CoTan ArcCos ArcCosSec ArcCoTan HSin HCos HTan HSec HCoSec HCoTan HArcsin
    HArccos HArctan HArcsec HArcCoSec HArcCoTan LogN DTOR Dist_Fctn Univariate Outlier Bivariate Version)
list(JOIN functions "|" names)
set(public "^(qel::(Error|Table|ValueTally|SegmentTally)::|qel::(${names})\\(|(typeinfo|typeinfo name|vtable) for qel::Error$)")
string(REPLACE "\n" ";" lines "${out}")
set(seen)
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the version-node symbol has no address.
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.*)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(name MATCHES "^QEL")  # the version node of the export map
    continue()
  endif()
  if(NOT name MATCHES "${public}")
    message(SEND_ERROR "exported but not public: ${name}")
  endif()
  if(name MATCHES "^qel::([A-Za-z_]+)\\(")
    list(APPEND seen ${CMAKE_MATCH_1})
  endif()
endforeach()
foreach(f IN LISTS functions)
  if(NOT f IN_LIST seen)
    message(SEND_ERROR "public but not exported: qel::${f}")
  endif()
endforeach()
