# cmake -DLIBRARY=lib -DBASELINE=abi -DCURRENT=abi -DSOURCE_DIR=dir
#       -DABIDW=abidw -DABIDIFF=abidiff [-DREFRESH=ON] -P check_abi.cmake
# A program built against the baseline must keep working with this library: no
# exported function may go or change its signature, no type it uses its layout.
# A new function is compatible and passes, with a reminder to refresh the baseline.
# REFRESH=ON writes the baseline instead.
cmake_minimum_required(VERSION 3.25)

# Only what the exports reach, and no path but relative to the sources, so that a
# clone elsewhere describes the same ABI in the same words.
if(NOT REFRESH)
  set(out ${CURRENT})
else()
  set(out ${BASELINE})
endif()
execute_process(COMMAND ${ABIDW} --exported-interfaces-only --no-elf-needed
                        --no-corpus-path --no-comp-dir-path --no-show-locs
                        --no-parameter-names --out-file ${out} ${LIBRARY}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "abidw ${LIBRARY} failed (${rc}): ${err}")
endif()
file(READ ${out} abi)
string(REPLACE "path='${SOURCE_DIR}/" "path='" abi "${abi}")
file(WRITE ${out} "${abi}")
if(REFRESH)
  message(STATUS "wrote ${BASELINE}")
  return()
endif()

execute_process(COMMAND ${ABIDIFF} ${BASELINE} ${CURRENT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE report ERROR_VARIABLE report)
if(rc EQUAL 0)
  message(STATUS "ABI as in ${BASELINE}")
  return()
endif()
# abidiff's status is a bit set: 1 error, 2 usage, 4 changed, 8 incompatible.
math(EXPR broken "${rc} & 11")
if(broken OR report MATCHES "[1-9][0-9]* (Removed|Changed)")
  message(FATAL_ERROR "the ABI differs from ${BASELINE} (abidiff ${rc}):\n${report}")
endif()
message(STATUS "compatible additions to ${BASELINE}; once they are meant, "
               "run make abi-baseline:\n${report}")
