# Makes the Windows zip of zlbtool with cpack in the Windows build and reads
# it back (cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -P): the kit a
# release engineer unpacks, zlbtool.exe with the stub and wait.exe beside
# it, and the README; nothing else.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G ZIP --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
                RESULT_VARIABLE Result OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
set(Top zlbtool-${VERSION}-win32)
set(Zip ${WORK_DIR}/${Top}.zip)
if(NOT Result EQUAL 0 OR NOT EXISTS ${Zip})
  message(FATAL_ERROR "cpack did not make ${Zip}:\n${Out}${Err}")
endif()
file(ARCHIVE_EXTRACT INPUT ${Zip} DESTINATION ${WORK_DIR}/unpacked)
file(GLOB_RECURSE Held LIST_DIRECTORIES FALSE RELATIVE ${WORK_DIR}/unpacked
     ${WORK_DIR}/unpacked/*)
list(SORT Held)
set(Expected ${Top}/README.md ${Top}/bin/KVUpdater-stub.exe ${Top}/bin/wait.exe
             ${Top}/bin/zlbtool.exe)
if(NOT Held STREQUAL Expected)
  message(FATAL_ERROR "${Zip} should hold exactly ${Expected}, holds ${Held}")
endif()
# Each program is a Windows image, the README this tree's.
foreach(Program KVUpdater-stub.exe wait.exe zlbtool.exe)
  file(READ ${WORK_DIR}/unpacked/${Top}/bin/${Program} Magic LIMIT 2 HEX)
  if(NOT Magic STREQUAL "4d5a")
    message(FATAL_ERROR "${Zip}: bin/${Program} is no Windows program")
  endif()
endforeach()
file(SHA256 ${WORK_DIR}/unpacked/${Top}/README.md Packed)
file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/../../README.md Source)
if(NOT Packed STREQUAL Source)
  message(FATAL_ERROR "${Zip}: README.md is not the tree's")
endif()
message(STATUS "${Zip}: ${Held}")
file(REMOVE_RECURSE ${WORK_DIR})
