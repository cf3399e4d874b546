# What `make install` puts where: the library with its header, pkg-config file and
# CMake package; hvext; the chown helper in the directory the library runs it from.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(HV_INSTALL_STANDINS
       "Install the stand-ins of the four sibling libraries (OFF where the real ones are)" ON)
set(HV_HELPER_PRIVILEGE auto CACHE STRING
    "How hvchown gets its privilege when installed as root: auto (cap, else setuid), cap, setuid, none")
set_property(CACHE HV_HELPER_PRIVILEGE PROPERTY STRINGS auto cap setuid none)
if(NOT HV_HELPER_PRIVILEGE MATCHES "^(auto|cap|setuid|none)$")
  message(FATAL_ERROR "HV_HELPER_PRIVILEGE must be auto, cap, setuid or none, "
                      "not '${HV_HELPER_PRIVILEGE}'")
endif()

set(hv_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/hv_ext)

# Run paths. To a binary it will install, CMake gives its build-tree directories
# followed by empty elements, room to write the installed run path over them; the
# loader reads an empty element as the current directory, which no binary of ours
# may search (a privileged one least of all). So each of them is linked with its
# build-tree directories alone and the install writes its run path in their place
# (cmake/hv_run_path.cmake). Where the library is installed in a directory the
# loader searches anyway (/usr/lib/<arch>), an installed binary gets no run path.
set(hv_system_libdirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
    ${CMAKE_C_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
list(REMOVE_DUPLICATES hv_system_libdirs)

# hv_run_path(<target> <library target> <installed file> <run path>): <target> is
# built to find <library target> where it is built; <run path> is INSTALL_LIBDIR
# for the library directory itself (absolute), or a path from $ORIGIN.
function(hv_run_path target library installed_file run_path)
  # Each element ends in "/": no name in the string table (symbols end otherwise)
  # can then share its tail with the run path, which is rewritten in place. The
  # element is repeated until the installed run path fits in its place; its length
  # is counted without the configuration's subdirectory of a multi-config build,
  # which only adds room.
  set(element "$<TARGET_FILE_DIR:${library}>/")
  get_target_property(build_dir ${library} LIBRARY_OUTPUT_DIRECTORY)
  if(NOT build_dir)
    get_target_property(build_dir ${library} BINARY_DIR)
  endif()
  string(LENGTH "${build_dir}/" element_length)
  if(run_path STREQUAL "INSTALL_LIBDIR")
    set(installed_path "${CMAKE_INSTALL_FULL_LIBDIR}")
  else()
    set(installed_path "${run_path}")
  endif()
  string(LENGTH "${installed_path}" need)
  set(build_path "${element}")
  set(room ${element_length})
  while(room LESS need)
    string(APPEND build_path ":${element}")
    math(EXPR room "${room} + 1 + ${element_length}")
  endwhile()
  set_target_properties(${target} PROPERTIES
    BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${build_path}")
  install(CODE "set(HV_FILE \"${installed_file}\")
                set(HV_RUN_PATH \"${run_path}\")
                set(HV_ROOM ${room})
                set(HV_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
                set(HV_SYSTEM_LIBDIRS \"${hv_system_libdirs}\")"
          SCRIPT ${PROJECT_SOURCE_DIR}/cmake/hv_run_path.cmake)
endfunction()

# The library finds the siblings installed beside it.
install(TARGETS hv_ext EXPORT hv_ext_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
hv_run_path(hv_ext hv_sxl
            ${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:hv_ext> "$ORIGIN")
install(FILES ${PROJECT_SOURCE_DIR}/include/hv_ext.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(HV_INSTALL_STANDINS)
  install(TARGETS hv_sxl hv_dtk hv_tayl hv_hq LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT hv_ext_targets NAMESPACE hv_ext:: FILE hv_extTargets.cmake
        DESTINATION ${hv_cmake_dir})
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/hv_extConfig.cmake
     CONTENT "include(\${CMAKE_CURRENT_LIST_DIR}/hv_extTargets.cmake)\n" @ONLY)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/hv_extConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/hv_extConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/hv_extConfigVersion.cmake
        DESTINATION ${hv_cmake_dir})

# The .pc file names its prefix relative to its own place, so a staged or moved
# tree still answers with its own paths.
file(RELATIVE_PATH hv_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" hv_pc_to_prefix "${hv_pc_to_prefix}")
file(RELATIVE_PATH hv_pc_libdir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH hv_pc_includedir ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/hv_ext.pc.in ${CMAKE_CURRENT_BINARY_DIR}/hv_ext.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/hv_ext.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(NOT TARGET hvext)
  return()
endif()

file(RELATIVE_PATH hv_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
install(TARGETS hvext RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
hv_run_path(hvext hv_ext ${CMAKE_INSTALL_BINDIR}/hvext
            "$ORIGIN/${hv_bin_to_lib}")

# The loader runs hvchown in secure mode, where it ignores $ORIGIN: an absolute
# path, and the older DT_RPATH, which unlike DT_RUNPATH also serves the library's
# own dependencies (the siblings).
target_link_options(hvchown PRIVATE "LINKER:--disable-new-dtags")
install(TARGETS hvchown RUNTIME DESTINATION ${HV_HELPER_DIR})
hv_run_path(hvchown hv_ext ${HV_HELPER_DIR}/hvchown INSTALL_LIBDIR)
install(CODE "set(HV_HELPER \"${HV_HELPER_DIR}/hvchown\")
              set(HV_HELPER_PRIVILEGE ${HV_HELPER_PRIVILEGE})"
        SCRIPT ${PROJECT_SOURCE_DIR}/cmake/hv_finish_install.cmake)
