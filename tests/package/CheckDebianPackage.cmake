# Makes the Debian package of zlbtool with cpack and reads it back with
# dpkg-deb (cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... [-DSTUB=ON]
# [-DLINTIAN=...] -P): what it holds, its control fields, and with LINTIAN
# no error that lintian finds. With STUB, the package carries the updater
# stub and wait.exe, and its zlbtool, unpacked, makes an updater with that
# stub without being told where it is.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
                RESULT_VARIABLE Result OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE Arch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(Deb ${WORK_DIR}/zlbtool_${VERSION}_${Arch}.deb)
if(NOT Result EQUAL 0 OR NOT EXISTS ${Deb})
  message(FATAL_ERROR "cpack did not make ${Deb}:\n${Out}${Err}")
endif()
execute_process(COMMAND dpkg-deb -c ${Deb} OUTPUT_VARIABLE Contents)
message(STATUS "${Contents}")

# What it holds: a file per row, with its mode.
set(Files
  "-rwxr-xr-x ./usr/bin/zlbtool"
  "-rw-r--r-- ./usr/share/man/man1/zlbtool.1.gz"
  "-rw-r--r-- ./usr/share/bash-completion/completions/zlbtool"
  "-rw-r--r-- ./usr/share/doc/zlbtool/copyright"
  "-rw-r--r-- ./usr/share/doc/zlbtool/changelog.gz")
if(STUB)
  list(APPEND Files "-rw-r--r-- ./usr/share/zlbtool/KVUpdater-stub.exe"
                    "-rw-r--r-- ./usr/share/zlbtool/wait.exe")
endif()
foreach(File IN LISTS Files)
  string(REGEX REPLACE " .*" "" Mode "${File}")
  string(REGEX REPLACE "^[^ ]+ " "" Path "${File}")
  string(REGEX REPLACE "[.+]" "\\\\\\0" Path "${Path}")
  if(NOT Contents MATCHES "(^|\n)${Mode} root/root +[0-9]+ [^\n]+ ${Path}\n")
    message(FATAL_ERROR "${Deb} lacks ${File}:\n${Contents}")
  endif()
endforeach()
if(Contents MATCHES "include/|\\.a\n")
  message(FATAL_ERROR "${Deb} should hold no component:\n${Contents}")
endif()

if(STUB)
  execute_process(COMMAND dpkg-deb -x ${Deb} ${WORK_DIR}/root RESULT_VARIABLE Result)
  file(WRITE ${WORK_DIR}/release/wait.exe "waits")
  file(WRITE ${WORK_DIR}/release/konvoro.exe "the client")
  execute_process(COMMAND ${WORK_DIR}/root/usr/bin/zlbtool updater -o ${WORK_DIR}/KVUpdater.exe
                          ${WORK_DIR}/release
                  RESULT_VARIABLE Result ERROR_VARIABLE Err)
  execute_process(COMMAND ${WORK_DIR}/root/usr/bin/zlbtool info ${WORK_DIR}/KVUpdater.exe
                  OUTPUT_VARIABLE Info)
  if(NOT Result EQUAL 0 OR NOT Info MATCHES "Payload: +2 entries.*wait\\.exe: +present")
    message(FATAL_ERROR "the packaged zlbtool made no updater with its stub:\n${Err}${Info}")
  endif()
endif()
foreach(Field "Package: zlbtool" "Version: ${VERSION}" "Architecture: ${Arch}"
        "Maintainer: [^\n]+<[^\n]+@[^\n]+>" "Description: [^\n]+\n [^\n]+")
  execute_process(COMMAND dpkg-deb -I ${Deb} OUTPUT_VARIABLE Control)
  if(NOT Control MATCHES "\n ?${Field}")
    message(FATAL_ERROR "${Deb}: its control lacks '${Field}':\n${Control}")
  endif()
endforeach()

if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --fail-on error ${Deb} RESULT_VARIABLE Result
                  OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
  message(STATUS "lintian:\n${Out}${Err}")
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "lintian finds errors in ${Deb}:\n${Out}${Err}")
  endif()
endif()
