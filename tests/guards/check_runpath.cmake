# cmake -DREADELF=readelf -DROOT=dir -P check_runpath.cmake
# No program or library under ROOT may carry an empty or relative element in its
# run path (DT_RPATH, DT_RUNPATH): the loader takes either from the current
# directory, so the binary would load whatever its caller leaves where it stands.
# hvchown, which runs privileged, takes no $ORIGIN either: its libraries come only
# from where root put them.
cmake_minimum_required(VERSION 3.25)

file(GLOB_RECURSE files LIST_DIRECTORIES false ${ROOT}/*)
set(checked 0)
set(faults "")
foreach(file IN LISTS files)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  # An ELF executable or shared object (type 2 or 3, little-endian).
  file(READ ${file} head LIMIT 18 HEX)
  if(NOT head MATCHES "^7f454c46..01....................0[23]00$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND ${READELF} -d ${file} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    string(APPEND faults "  ${file}: readelf -d failed (${rc})\n")
    continue()
  endif()
  get_filename_component(name ${file} NAME)
  string(REGEX MATCHALL "\\((RPATH|RUNPATH)\\)[^\n]*\\[[^]\n]*\\]" entries "${dynamic}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\\(([A-Z]+)\\).*\\[([^]]*)\\]$" "\\1" kind "${entry}")
    string(REGEX REPLACE "^\\(([A-Z]+)\\).*\\[([^]]*)\\]$" "\\2" path "${entry}")
    # ":" splits the elements; an empty path is one empty element.
    string(REPLACE ":" ";" elements "${path}")
    if(path STREQUAL "")
      set(elements ";")
    endif()
    foreach(element IN LISTS elements)
      if(element MATCHES "^/")
        continue()
      elseif(element MATCHES "^\\$({ORIGIN}|ORIGIN)(/|$)" AND NOT name STREQUAL "hvchown")
        continue()
      endif()
      string(APPEND faults "  ${file}: ${kind} [${path}] holds '${element}'\n")
      break()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no ELF program or library found under ${ROOT}")
endif()
if(NOT faults STREQUAL "")
  message(FATAL_ERROR "run paths with an empty or relative element, or $ORIGIN in "
                      "hvchown:\n${faults}")
endif()
message(STATUS "${checked} programs and libraries under ${ROOT}: no empty or relative "
               "run-path element, no $ORIGIN in hvchown")
