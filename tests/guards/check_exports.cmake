# cmake -DLIBRARY=lib -DEXPORTS_LIST=list -DNM=nm -P check_exports.cmake
# The dynamic symbols the library defines must be exactly the ext_ names of the
# exports list: an extra one leaks an internal (or a C++ symbol), a missing one is
# a function callers were promised.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE nm_output ERROR_VARIABLE nm_error RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${LIBRARY} failed: ${nm_error}")
endif()

set(defined)
string(REGEX MATCHALL "[^\n]+" nm_lines "${nm_output}")
foreach(line IN LISTS nm_lines)
  # "address type name[@version]"; type A marks a version node, not a symbol.
  if(NOT line MATCHES "^[0-9a-fA-F ]* ([A-Za-z]) ([^@ ]+)")
    continue()
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND defined ${CMAKE_MATCH_2})
  endif()
endforeach()

set(expected)
file(STRINGS ${EXPORTS_LIST} list_lines REGEX "^ext_")
foreach(line IN LISTS list_lines)
  string(REGEX MATCH "^[A-Za-z0-9_]+" name "${line}")
  list(APPEND expected ${name})
endforeach()

set(extra ${defined})
if(expected)
  list(REMOVE_ITEM extra ${expected})
endif()
set(missing ${expected})
if(defined)
  list(REMOVE_ITEM missing ${defined})
endif()
if(extra OR missing)
  list(JOIN extra " " extra_text)
  list(JOIN missing " " missing_text)
  message(FATAL_ERROR "${LIBRARY} exports do not match ${EXPORTS_LIST}\n"
                      "  exported but not listed: ${extra_text}\n"
                      "  listed but not exported: ${missing_text}")
endif()
list(LENGTH defined count)
message(STATUS "${count} exported symbols, all listed")
