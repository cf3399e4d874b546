# run(COMMAND...): runs a command of a consumer check; its output in `out`, and the
# check fails with that output when the command does.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}: ${rc}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
