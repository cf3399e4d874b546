# Compiler settings shared by every target, and the helper that makes a shared
# library look like a C library to its users.

add_compile_options(-Wall -Wextra -Wshadow -Wformat=2 -Wcast-align -Wundef)
# A project that takes us in as a subproject chooses its own build type.
if(PROJECT_IS_TOP_LEVEL AND CMAKE_BUILD_TYPE STREQUAL "")
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

if(HV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

option(HV_TSAN "Build everything with ThreadSanitizer" OFF)
option(HV_COVERAGE "Measure the line and branch coverage of libhv_ext (gcov)" OFF)
if(HV_TSAN AND HV_SANITIZE)
  message(FATAL_ERROR "HV_TSAN and HV_SANITIZE exclude each other: ThreadSanitizer "
                      "cannot share a process with AddressSanitizer")
endif()
if(HV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# A C++ library with a C face: no exceptions, no RTTI, no guard calls for local
# statics, nothing visible but what the version script exports, and linked with
# the C driver so that neither libstdc++ nor libgcc_s becomes a dependency.
#
# CMake still adds the C++ runtime to a C-linked target made of C++ objects, from
# CMAKE_CXX_IMPLICIT_LINK_LIBRARIES as the target's own directory sees it. So this
# clears that list for the calling directory only: call it from the directory's
# own scope, in a directory that holds C-ABI libraries alone (src/, platform/).
function(hv_c_abi_library target version_script)
  set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "" PARENT_SCOPE)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)
  set_target_properties(${target} PROPERTIES
    LINKER_LANGUAGE C
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${version_script})
  # --no-undefined: any libstdc++ or libgcc_s symbol that slips in fails the link.
  target_link_options(${target} PRIVATE "LINKER:--version-script=${version_script}"
                      "LINKER:--as-needed" "LINKER:--no-undefined")
endfunction()
