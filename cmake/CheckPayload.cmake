# Checks a payload, an archive or the one a program carries: the build runs
# it on a signed KVUpdater.exe, which zlbtool updater read back before it
# was signed (cmake -DZLBTOOL=... -DPAYLOAD=archive-or-program -P):
#   -DTEST_ENTRIES=ON       every entry must inflate to its size and CRC-32
#                           ("zlbtool test")
#   -DALLOW_NO_WAIT=ON      no wait.exe needed (test variants)
#   -DREMOVE_ON_FAILURE=ON  delete PAYLOAD when a check fails: a built
#                           program that failed is never left to pass for a
#                           good build output
#   -DSTAMP=file            touched when the payload passes
# By default the payload must be a readable archive with an entry named
# wait.exe (any letter case). The script's "@wait" runs that program from
# the update folder; without it the elevated command interpreter would run
# whatever "wait" the PATH offers, and folders users can write to may be on
# it.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/PayloadFacts.cmake)

function(refuse Text)
  if(REMOVE_ON_FAILURE)
    file(REMOVE ${PAYLOAD})
  endif()
  message(FATAL_ERROR "${Text}")
endfunction()

if(TEST_ENTRIES)
  execute_process(COMMAND ${ZLBTOOL} test ${PAYLOAD}
                  OUTPUT_VARIABLE Report ERROR_VARIABLE Error RESULT_VARIABLE Result)
  if(NOT Result EQUAL 0)
    refuse("The payload of ${PAYLOAD} does not test clean:\n${Report}${Error}")
  endif()
endif()

if(NOT ALLOW_NO_WAIT)
  execute_process(COMMAND ${ZLBTOOL} list --json ${PAYLOAD}
                  OUTPUT_VARIABLE Listing ERROR_VARIABLE Error RESULT_VARIABLE Result)
  if(NOT Result EQUAL 0)
    refuse("The payload ${PAYLOAD} cannot be read: ${Error}")
  endif()
  # Entry names are listed as JSON strings; only ASCII letters change case.
  string(TOLOWER "${Listing}" Listing)
  string(REPLACE "." "\\." wait_pattern "${KV_PAYLOAD_WAIT_PROGRAM}")
  if(NOT Listing MATCHES "\"name\": \"${wait_pattern}\",")
    refuse(
      "The payload ${PAYLOAD} has no entry named ${KV_PAYLOAD_WAIT_PROGRAM}. The update script's "
      "\"@wait\" runs ${KV_PAYLOAD_WAIT_PROGRAM} from the update folder; without one, the "
      "elevated command interpreter would run "
      "any \"wait\" found on the PATH. Add the release's wait.exe (a program that waits until "
      "KVUpdater.exe has ended), or, for a test variant, pass ALLOW_NO_WAIT.")
  endif()
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
