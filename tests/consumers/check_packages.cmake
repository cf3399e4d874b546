# cmake -DDEBS=dir -DSOURCE=dir -P check_packages.cmake
# The Debian packages of DEBS (make deb) as a user gets them: their contents are
# unpacked into DEBS/root, where no binary may carry a run path the guard refuses,
# hvext must answer on the sample installation, and the C consumer must build with
# pkg-config and with find_package and run.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

get_filename_component(DEBS ${DEBS} ABSOLUTE)
set(root ${DEBS}/root)
file(REMOVE_RECURSE ${root})
foreach(package libhv-ext1 libhv-ext-dev hvext libhv-standins)
  file(GLOB deb ${DEBS}/${package}_*.deb)
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one ${package}_*.deb in ${DEBS}, found: ${deb}")
  endif()
  run(dpkg-deb -x ${deb} ${root})
endforeach()

find_program(READELF readelf REQUIRED)
run(${CMAKE_COMMAND} -DREADELF=${READELF} -DROOT=${root}
    -P ${CMAKE_CURRENT_LIST_DIR}/../guards/check_runpath.cmake)
string(REGEX REPLACE "^-- |\n$" "" out "${out}")
message(STATUS "${out}")

run(dpkg-architecture -qDEB_HOST_MULTIARCH)
string(STRIP "${out}" multiarch)
set(libdir /usr/lib/${multiarch})
set(ENV{HV_DATADIR} ${SOURCE}/examples/site)
set(ENV{LD_LIBRARY_PATH} ${root}${libdir})
run(${root}/usr/bin/hvext info)
if(NOT out MATCHES "^home: ${SOURCE}/examples/site\n")
  message(FATAL_ERROR "hvext info printed:\n${out}")
endif()

set(ENV{HV_DATADIR} /srv/home)
foreach(how pkg-config find_package)
  run(${CMAKE_COMMAND} -DHOW=${how} -DSTAGE=${root} -DPREFIX=/usr -DLIBDIR=${libdir}
      -DWORK=${DEBS}/consumer-${how} -DCC=cc "-DEXPECT=^/srv/home/sys/general\\.cfg\n6e90\n$"
      -P ${CMAKE_CURRENT_LIST_DIR}/consume.cmake)
endforeach()
message(STATUS "the packages unpack, hvext runs and the consumer builds both ways")
