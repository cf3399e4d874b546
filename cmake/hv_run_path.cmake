# Run by `cmake --install` once a binary is copied (hv_run_path in hv_install.cmake),
# with HV_FILE (its installed path: absolute, or from the prefix), HV_RUN_PATH (a
# path from $ORIGIN, or INSTALL_LIBDIR for the library directory itself), HV_ROOM
# (the length of the build-tree run path it replaces), HV_LIBDIR (the library
# directory: absolute, or from the prefix) and HV_SYSTEM_LIBDIRS (the directories
# searched without a run path). Read when installing, so that `--prefix` counts.
cmake_policy(VERSION 3.25)
if(NOT IS_ABSOLUTE "${HV_FILE}")
  set(HV_FILE "${CMAKE_INSTALL_PREFIX}/${HV_FILE}")
endif()
if(NOT IS_ABSOLUTE "${HV_LIBDIR}")
  set(HV_LIBDIR "${CMAKE_INSTALL_PREFIX}/${HV_LIBDIR}")
endif()
cmake_path(NORMAL_PATH HV_LIBDIR)
string(REGEX REPLACE "(.)/$" "\\1" HV_LIBDIR "${HV_LIBDIR}")
set(file "$ENV{DESTDIR}${HV_FILE}")

if(HV_LIBDIR IN_LIST HV_SYSTEM_LIBDIRS)
  file(RPATH_REMOVE FILE "${file}")
  return()
endif()
if(HV_RUN_PATH STREQUAL "INSTALL_LIBDIR")
  set(HV_RUN_PATH "${HV_LIBDIR}")
endif()
string(LENGTH "${HV_RUN_PATH}" length)
if(length GREATER HV_ROOM)
  message(FATAL_ERROR "${HV_FILE}: its run path ${HV_RUN_PATH} is longer than the one "
                      "it was built with; configure with -DCMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX} "
                      "rather than give the prefix to the install alone")
endif()
file(RPATH_SET FILE "${file}" NEW_RPATH "${HV_RUN_PATH}")
