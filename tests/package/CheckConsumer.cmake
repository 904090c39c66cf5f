# Installs the build tree into a prefix, then configures, builds and runs a
# separate project against it (cmake -DBUILD_DIR=... -DWORK_DIR=...
# -DCONSUMER_DIR=... -DCXX=... -P): it reads an archive packed by the
# installed zlbtool.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE Result OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "${ARGV} failed:\n${Out}${Err}")
  endif()
  set(Out "${Out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(Prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${Prefix})
foreach(Installed bin/zlbtool include/konvoro/zlb/ZLIBArchive.h include/konvoro/Streams.h
        lib/cmake/KonvoroZLB/KonvoroZLBConfig.cmake)
  if(NOT EXISTS ${Prefix}/${Installed})
    message(FATAL_ERROR "the install tree lacks ${Installed}")
  endif()
endforeach()
# Every installed header lies below konvoro/: none answers to a bare name.
file(GLOB Bare ${Prefix}/include/*.h)
if(Bare)
  message(FATAL_ERROR "headers reachable by a bare name: ${Bare}")
endif()
file(GLOB_RECURSE Leaked ${Prefix}/*ZLBWriter* ${Prefix}/*kvtest* ${Prefix}/*FailingSystem*)
if(Leaked)
  message(FATAL_ERROR "the install tree holds what is not the component's: ${Leaked}")
endif()

file(WRITE ${WORK_DIR}/release/a.txt "alpha\n")
file(WRITE ${WORK_DIR}/release/b.txt "beta beta\n")
run(${Prefix}/bin/zlbtool pack -o ${WORK_DIR}/release.zlb ${WORK_DIR}/release)

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_PREFIX_PATH=${Prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
file(MAKE_DIRECTORY ${WORK_DIR}/out)
run(${WORK_DIR}/consumer/consumer ${WORK_DIR}/release.zlb ${WORK_DIR}/out)
if(NOT Out STREQUAL "a.txt 6\nb.txt 10\n")
  message(FATAL_ERROR "the consumer listed:\n${Out}")
endif()
file(READ ${WORK_DIR}/out/b.txt Extracted)
if(NOT Extracted STREQUAL "beta beta\n")
  message(FATAL_ERROR "the consumer extracted '${Extracted}'")
endif()
