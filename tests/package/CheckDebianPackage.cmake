# Makes the Debian package of zlbtool with cpack and reads it back with
# dpkg-deb (cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... [-DSTUB=ON]
# -P). With STUB, the package carries the updater stub, and its zlbtool,
# unpacked, makes an updater with it without being told where it is.
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
if(NOT Contents MATCHES " \\./usr/bin/zlbtool\n" OR Contents MATCHES "include/|\\.a\n")
  message(FATAL_ERROR "${Deb} should hold /usr/bin/zlbtool and no component:\n${Contents}")
endif()
if(STUB)
  if(NOT Contents MATCHES " \\./usr/share/zlbtool/KVUpdater-stub\\.exe\n")
    message(FATAL_ERROR "${Deb} lacks /usr/share/zlbtool/KVUpdater-stub.exe:\n${Contents}")
  endif()
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
