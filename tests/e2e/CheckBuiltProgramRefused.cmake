# Runs the check that follows the signing of KVUpdater.exe on a copy of
# PROGRAM, as the build runs it (cmake -DZLBTOOL=... -DPROGRAM=...
# -DWORK_DIR=... -DEXPECTED=regex -DCHECK_SCRIPT=... -P): it must fail with
# zlbtool's report matching EXPECTED and delete the copy.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(Copy ${WORK_DIR}/KVUpdater.exe)
file(COPY_FILE ${PROGRAM} ${Copy})
execute_process(COMMAND ${CMAKE_COMMAND} -DZLBTOOL=${ZLBTOOL} -DPAYLOAD=${Copy} -DTEST_ENTRIES=ON
                        -DREMOVE_ON_FAILURE=ON -P ${CHECK_SCRIPT}
                OUTPUT_VARIABLE Out ERROR_VARIABLE Err RESULT_VARIABLE Result)
if(Result EQUAL 0)
  message(FATAL_ERROR "the check passed a program it must refuse:\n${Out}${Err}")
endif()
string(REGEX REPLACE "[ \n]+" " " Said "${Err}")
string(REGEX REPLACE "[ \n]+" " " Expected "${EXPECTED}")
if(NOT Said MATCHES "${Expected}")
  message(FATAL_ERROR "the check failed without saying '${EXPECTED}':\n${Err}")
endif()
if(EXISTS ${Copy})
  message(FATAL_ERROR "the refused program was left in place")
endif()
message(STATUS "refused as expected:\n${Err}")
