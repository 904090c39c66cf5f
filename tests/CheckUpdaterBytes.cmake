# Makes the updater of RELEASE_DIR at VERSION once more, as a release
# engineer does, and checks that it equals EXPECTED, the build's
# KVUpdater.exe, byte for byte (cmake -DRELEASE_DIR=... -DVERSION=...
# -DEXPECTED=... -DWORK_DIR=... -P), with one of
#   -DZLBTOOL=... -DSTUB=...       the build machine's zlbtool and the stub
#   -DBUILD_DIR=... -DEMULATOR=... zlbtool.exe under Wine, installed from the
#                                  Windows build: it takes the stub installed
#                                  beside it
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGV} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE Result
                  OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "${ARGV} failed:\n${Out}${Err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(BUILD_DIR)
  set(Prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${Prefix})
  # Wine sees the working directory, not the build machine's paths.
  file(COPY ${RELEASE_DIR}/ DESTINATION ${WORK_DIR}/release)
  run(${EMULATOR} ${Prefix}/bin/zlbtool.exe updater --version ${VERSION} -o made.exe release)
else()
  run(${ZLBTOOL} updater --stub ${STUB} --version ${VERSION} -o made.exe ${RELEASE_DIR})
endif()

file(SHA256 ${EXPECTED} Expected)
file(SHA256 ${WORK_DIR}/made.exe Made)
if(NOT Made STREQUAL Expected)
  message(FATAL_ERROR "${WORK_DIR}/made.exe differs from ${EXPECTED}:\n  ${Made}\n  ${Expected}")
endif()
message(STATUS "the same ${Expected}")
file(REMOVE_RECURSE ${WORK_DIR})
