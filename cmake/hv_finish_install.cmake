# Run by `cmake --install` after everything is copied, with HV_HELPER (the helper's
# installed path) and HV_HELPER_PRIVILEGE (auto, cap, setuid or none) set.
# Only a root install straight onto this system (no DESTDIR) grants the helper its
# privilege: a file capability would not survive packing a staged tree, and a
# setuid-root copy in a staging or build directory serves no one.
if(NOT IS_ABSOLUTE "${HV_HELPER}")
  set(HV_HELPER "${CMAKE_INSTALL_PREFIX}/${HV_HELPER}")
endif()
string(CONCAT by_hand "setcap cap_chown+ep ${HV_HELPER}  "
       "(or: chown root:root ${HV_HELPER} && chmod 4755 ${HV_HELPER})")
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)

if(NOT "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "hvchown: staged without privilege; once installed, run as root: ${by_hand}")
  return()
elseif(NOT uid STREQUAL "0")
  message(STATUS "hvchown: installed without privilege (not root); run as root: ${by_hand}")
  return()
endif()

# The installed libhv_ext must be found by programs that do not carry a run path.
execute_process(COMMAND ldconfig)

# Changing the owner drops an earlier setuid bit and file capability, so a
# reinstall with another choice leaves nothing of the old one behind.
execute_process(COMMAND chown 0:0 ${HV_HELPER} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "hvchown: cannot give ${HV_HELPER} to root")
endif()
if(HV_HELPER_PRIVILEGE STREQUAL "none")
  message(STATUS "hvchown: installed without privilege (HV_HELPER_PRIVILEGE=none); "
                 "to grant it: ${by_hand}")
  return()
endif()

if(HV_HELPER_PRIVILEGE MATCHES "^(auto|cap)$")
  find_program(hv_setcap setcap PATHS /usr/sbin /sbin)
  set(why "setcap not found (Debian package libcap2-bin)")
  if(hv_setcap)
    execute_process(COMMAND ${hv_setcap} cap_chown+ep ${HV_HELPER}
                    RESULT_VARIABLE rc ERROR_VARIABLE err ERROR_STRIP_TRAILING_WHITESPACE)
    if(rc STREQUAL "0")
      message(STATUS "hvchown: granted CAP_CHOWN (setcap cap_chown+ep ${HV_HELPER})")
      return()
    endif()
    set(why "setcap cap_chown+ep ${HV_HELPER} failed (${rc}) ${err}")
  endif()
  if(HV_HELPER_PRIVILEGE STREQUAL "cap")
    message(FATAL_ERROR "hvchown: ${why}")
  endif()
  message(STATUS "hvchown: ${why}; falling back to setuid root")
endif()
file(CHMOD ${HV_HELPER} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE SETUID)
message(STATUS "hvchown: setuid root (chown root:root, chmod 4755 ${HV_HELPER})")
