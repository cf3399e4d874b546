# Checks one manual page: groff must format it without a word on stderr, laid out
# for print and for a terminal (only the terminal layout finds lines that cannot
# be broken). With HEADER, every prototype declared there must appear in the page
# as it is written, so that the page cannot fall behind the header.
#
#   cmake -DGROFF=groff -DPAGE=man/hv_ext.3 [-DHEADER=include/hv_ext.h] -P check_page.cmake

foreach(device ps utf8)
  execute_process(COMMAND ${GROFF} -man -ww -T${device} -z ${PAGE}
                  RESULT_VARIABLE status ERROR_VARIABLE complaints)
  if(NOT status EQUAL 0 OR NOT complaints STREQUAL "")
    message(FATAL_ERROR "groff -T${device} on ${PAGE} (status ${status}):\n${complaints}")
  endif()
endforeach()

if(NOT HEADER)
  return()
endif()

# Plain text: no overstriking, no escape sequences.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
                OUTPUT_VARIABLE page RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
string(REGEX REPLACE "[ \t\n]+" " " page "${page}")

file(READ ${HEADER} header)
string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" header "${header}")
string(REGEX REPLACE "[ \t\n]+" " " header "${header}")
# The semicolon is left out of each match: CMake would take it for a list separator.
string(REGEX MATCHALL "HV_EXT_API [a-z][^;]* HV_EXT_NOEXCEPT" declarations "${header}")
if(NOT declarations)
  message(FATAL_ERROR "no prototypes found in ${HEADER}")
endif()
set(missing "")
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE "^HV_EXT_API (.*) HV_EXT_NOEXCEPT$" "\\1;" prototype "${declaration}")
  string(FIND "${page}" "${prototype}" at)
  if(at EQUAL -1)
    string(APPEND missing "  ${prototype}\n")
  endif()
endforeach()
if(NOT missing STREQUAL "")
  message(FATAL_ERROR "${PAGE} lacks these prototypes of ${HEADER}, as declared:\n${missing}")
endif()
