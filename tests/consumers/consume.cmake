# cmake -DHOW=pkg-config|find_package -DSTAGE=dir -DPREFIX=dir -DLIBDIR=dir
#       -DWORK=dir -DCC=compiler -DFLAGS=flags -DEMULATOR=cmd -DEXPECT=regex
#       -P consume.cmake
# cmake -DHOW=add_subdirectory|FetchContent -DSOURCE=dir -DWORK=dir -DCC=compiler
#       -DCXX=compiler -DEXPECT=regex -P consume.cmake
# Builds consumer.c, as strict C99, the way a user would: against the staged
# install (STAGE), or in a project of its own that takes in the tree at SOURCE
# (subproject/). Runs it and matches what it prints.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

file(REMOVE_RECURSE ${WORK})
if(HOW STREQUAL "pkg-config")
  # LIBDIR, not PATH: a hv_ext.pc installed on this machine must not answer.
  set(ENV{PKG_CONFIG_LIBDIR} ${STAGE}${LIBDIR}/pkgconfig)
  run(pkg-config --cflags --libs hv_ext)
  separate_arguments(pc_flags UNIX_COMMAND "${out}")
  separate_arguments(cc_flags UNIX_COMMAND "${FLAGS}")
  file(MAKE_DIRECTORY ${WORK})
  run(${CC} ${cc_flags} -std=c99 -pedantic -Werror -Wall -Wextra
      ${CMAKE_CURRENT_LIST_DIR}/consumer.c ${pc_flags} -o ${WORK}/consumer)
elseif(HOW STREQUAL "find_package")
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/find_package -B ${WORK}
      -DCMAKE_PREFIX_PATH=${STAGE}${PREFIX} -DCMAKE_C_COMPILER=${CC} -DCMAKE_C_FLAGS=${FLAGS})
  run(${CMAKE_COMMAND} --build ${WORK})
else()
  # The parent's configure fails if the tree changed its settings or gave it more
  # than the library.
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subproject -B ${WORK} -DHOW=${HOW}
      -DHV_EXT_SOURCE=${SOURCE} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX})
  run(${CMAKE_COMMAND} --build ${WORK})
endif()

if(STAGE)
  set(ENV{LD_LIBRARY_PATH} ${STAGE}${LIBDIR})
endif()
run(${EMULATOR} ${WORK}/consumer)
if(NOT out MATCHES "${EXPECT}")
  message(FATAL_ERROR "consumer printed:\n${out}\nexpected to match: ${EXPECT}")
endif()
message(STATUS "consumer printed:\n${out}")
