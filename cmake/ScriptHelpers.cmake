# Shared by the install tests (cmake -P scripts).

# run(COMMAND...): runs it, stops the test with its output when it fails, and
# leaves its standard output in last_output.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# The example host's output in last_output: the univariate line and the
# outlier table read from its first row (a value, its count, its flag).
function(check_client_output)
  if(NOT last_output MATCHES "Mean of Salary" OR NOT last_output MATCHES "\nValue +N Outlier\n[0-9.]+ +[0-9]+ (True|False)\n")
    message(FATAL_ERROR "unexpected example output: ${last_output}")
  endif()
endfunction()
