# Checks a payload before KVUpdater.exe is built around it
# (cmake -DZLBTOOL=... -DPAYLOAD=... -DSTAMP=... -P): it must be a readable
# archive with an entry named wait.exe (any letter case). The script's
# "@wait" runs that program from the update folder; without it the elevated
# command interpreter would run whatever "wait" the PATH offers, and folders
# users can write to may be on it. Touches STAMP when the payload passes.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${ZLBTOOL} list --json ${PAYLOAD}
                OUTPUT_VARIABLE Listing ERROR_VARIABLE Error RESULT_VARIABLE Result)
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "The payload ${PAYLOAD} cannot be read: ${Error}")
endif()
# Entry names are listed as JSON strings; only ASCII letters change case.
string(TOLOWER "${Listing}" Listing)
if(NOT Listing MATCHES "\"name\": \"wait\\.exe\",")
  message(FATAL_ERROR
    "The payload ${PAYLOAD} has no entry named wait.exe. The update script's \"@wait\" runs "
    "wait.exe from the update folder; without one, the elevated command interpreter would run "
    "any \"wait\" found on the PATH. Add the release's wait.exe (a program that waits until "
    "KVUpdater.exe has ended), or, for a test variant, pass ALLOW_NO_WAIT.")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
