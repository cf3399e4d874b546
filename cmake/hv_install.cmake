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

# The library finds the siblings installed beside it.
set_target_properties(hv_ext PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS hv_ext EXPORT hv_ext_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
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

file(RELATIVE_PATH hv_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(hvext PROPERTIES INSTALL_RPATH "$ORIGIN/${hv_bin_to_lib}")
install(TARGETS hvext RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The loader runs hvchown in secure mode, where it ignores $ORIGIN: an absolute
# path, and the older DT_RPATH, which unlike DT_RUNPATH also serves the library's
# own dependencies (the siblings).
set_target_properties(hvchown PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
target_link_options(hvchown PRIVATE "LINKER:--disable-new-dtags")
install(TARGETS hvchown RUNTIME DESTINATION ${HV_HELPER_DIR})
install(CODE "set(HV_HELPER \"${HV_HELPER_DIR}/hvchown\")
              set(HV_HELPER_PRIVILEGE ${HV_HELPER_PRIVILEGE})"
        SCRIPT ${PROJECT_SOURCE_DIR}/cmake/hv_finish_install.cmake)
