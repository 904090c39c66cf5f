# Builds KVUpdater.exe once more from a copy of the sources at another path,
# in another build tree, and checks that it equals the build's own byte for
# byte (cmake -DSOURCE_DIR=... -DWORK_DIR=... -DEXE=... -DTOOLCHAIN=...
# -DRELEASE_DIR=... -DRELEASE_VERSION=... -P). Only what the program needs is
# built: the host tools, the demo release when it is the payload, the
# program; no tests.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
set(Copy ${WORK_DIR}/elsewhere/sources)
set(Build ${WORK_DIR}/elsewhere/build-tree)

# Every visible entry of the source tree but its build outputs.
file(GLOB Entries RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(Entry IN LISTS Entries)
  if(NOT Entry MATCHES "^(\\.|build$|out$)")
    file(COPY ${SOURCE_DIR}/${Entry} DESTINATION ${Copy})
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE Output ERROR_VARIABLE Output
                  RESULT_VARIABLE Result)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${Output}")
  endif()
endfunction()

set(Options -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF
            -DKVUPDATER_RELEASE_VERSION=${RELEASE_VERSION})
if(TOOLCHAIN)
  file(RELATIVE_PATH Toolchain ${SOURCE_DIR} ${TOOLCHAIN})
  list(APPEND Options -DCMAKE_TOOLCHAIN_FILE=${Copy}/${Toolchain})
endif()
if(RELEASE_DIR)
  list(APPEND Options -DKVUPDATER_RELEASE_DIR=${RELEASE_DIR})
endif()
run(${CMAKE_COMMAND} -S ${Copy} -B ${Build} ${Options})
run(${CMAKE_COMMAND} --build ${Build} --target KVUpdater --parallel 2)

file(SHA256 ${EXE} Expected)
file(SHA256 ${Build}/bin/KVUpdater.exe Actual)
if(NOT Actual STREQUAL Expected)
  message(FATAL_ERROR "${Build}/bin/KVUpdater.exe differs from ${EXE}:\n"
                      "  ${Actual}\n  ${Expected}\n(both trees kept for comparison)")
endif()
message(STATUS "the same ${Expected} from ${Copy}")
file(REMOVE_RECURSE ${WORK_DIR})
