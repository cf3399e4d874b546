# cmake -DLIBRARY=lib -DREADELF=readelf [-DSANITIZE=ON] -P check_needed.cmake
# The library must need nothing at run time but the C library and its four
# siblings: never libstdc++ or libgcc_s (a C program would inherit C++'s runtime),
# nor libm. Sanitizer builds may add their runtimes.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${READELF} -d ${LIBRARY}
                OUTPUT_VARIABLE readelf_output ERROR_VARIABLE readelf_error
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${READELF} -d ${LIBRARY} failed: ${readelf_error}")
endif()

set(allowed libc.so.6 libhv_sxl.so libhv_dtk.so libhv_tayl.so libhv_hq.so)
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]+\\]" needed_lines "${readelf_output}")
set(needed)
set(extra)
foreach(line IN LISTS needed_lines)
  string(REGEX REPLACE ".*\\[([^]]+)\\]" "\\1" name "${line}")
  list(APPEND needed ${name})
  if(name IN_LIST allowed)
    continue()
  endif()
  if(SANITIZE AND name MATCHES "^lib(asan|ubsan|tsan)\\.so(\\.[0-9]+)*$")
    continue()
  endif()
  list(APPEND extra ${name})
endforeach()

list(JOIN needed " " needed_text)
if(extra)
  list(JOIN extra " " extra_text)
  message(FATAL_ERROR "${LIBRARY} needs libraries it must not: ${extra_text}\n"
                      "  NEEDED: ${needed_text}")
endif()
message(STATUS "NEEDED: ${needed_text}")
