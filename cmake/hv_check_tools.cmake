# The checks need tools that a machine with only a compiler and CMake lacks
# (GoogleTest, groff, libabigail, qemu ...). A missing tool leaves out the checks
# that need it, and the end of configure names them all in one message; make check
# sets HV_ALL_CHECKS, which makes that message an error, so that it never passes
# with a check left out.
option(HV_ALL_CHECKS "Fail at configure when a tool that a check needs is missing (make check)" OFF)

# hv_checks_off(<checks> <tool>): <checks> are left out for want of <tool>.
function(hv_checks_off checks tool)
  set_property(GLOBAL APPEND PROPERTY HV_CHECKS_OFF "${checks} (${tool})")
endfunction()

# hv_find_check_tool(<var> <checks> <name>...): finds a program for <checks>;
# <var> is false when there is none.
function(hv_find_check_tool var checks)
  find_program(${var} NAMES ${ARGN})
  if(NOT ${var})
    list(JOIN ARGN " or " names)
    hv_checks_off("${checks}" "${names}")
  endif()
endfunction()

function(hv_report_checks_off)
  get_property(left_out GLOBAL PROPERTY HV_CHECKS_OFF)
  if(NOT left_out)
    return()
  endif()
  list(JOIN left_out "; " text)
  if(HV_ALL_CHECKS)
    message(FATAL_ERROR "hv_ext: a check's tool is missing: ${text}. "
                        "scripts/install-deps check installs them all.")
  endif()
  message(STATUS "hv_ext: checks left out, each for want of the tool named: ${text}. "
                 "make check runs them all.")
endfunction()
