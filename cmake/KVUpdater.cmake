# kvupdater_add_executable(NAME [PAYLOAD archive | NO_PAYLOAD] [ALLOW_NO_WAIT]
#                          [ALLOW_DAMAGED_PAYLOAD]
#                          [FORM text] [OUTPUT_DIRECTORY dir] [VERSION a.b.c.d]
#                          [SIGN_PKCS12 file SIGN_PASSWORD_FILE file]
#                          [SOURCES file...])
#
# Builds KVUpdater.exe around a payload archive (RCDATA "ZLBDATA",
# KV_PAYLOAD_RESOURCE) with the
# main window's stored properties (RCDATA "TFORM1", by default the
# program's own), the manifest and the version. The program is always named
# KVUpdater.exe, in OUTPUT_DIRECTORY (default: a directory named NAME in the
# current binary directory), since its title comes from its file name.
#
# The payload must carry a wait.exe (cmake/CheckPayload.cmake says why); the
# build stops otherwise. Once linked (and signed), the program itself is read
# back with the build machine's zlbtool: every entry of the payload it
# carries must test clean, and wait.exe be there; otherwise the program is
# deleted and the build stops with zlbtool's report. ALLOW_NO_WAIT skips the
# wait.exe checks, for test variants whose payloads lack one;
# ALLOW_DAMAGED_PAYLOAD skips every check of the payload, for variants whose
# payloads are damaged on purpose. SOURCES are linked
# before the libraries: a test variant replaces a platform function so.
# VERSION (default: KVUPDATER_RELEASE_VERSION) is the release's version, its
# FileVersion and ProductVersion. With a certificate (default: the
# KVUPDATER_SIGN_* options below) the program is signed once linked.
set(KV_UPDATER_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../updater)
set(KV_CHECK_PAYLOAD_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckPayload.cmake)

# The payload's resource name, read from the header the programs take it
# from, in the upper case that resource compilers store.
set(payload_header ${CMAKE_CURRENT_LIST_DIR}/../archive/PayloadResource.h)
file(STRINGS ${payload_header} KV_PAYLOAD_RESOURCE REGEX "PayloadResourceName = \"[^\"]+\"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" KV_PAYLOAD_RESOURCE "${KV_PAYLOAD_RESOURCE}")
string(TOUPPER "${KV_PAYLOAD_RESOURCE}" KV_PAYLOAD_RESOURCE)
if(NOT KV_PAYLOAD_RESOURCE MATCHES "^[A-Z0-9_]+$")
  message(FATAL_ERROR "No payload resource name found in ${payload_header}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${payload_header})

# Authenticode signing of every KVUpdater.exe: SHA-256, by osslsigncode,
# which reads the password from its file, so that it never shows on a
# command line or in a build log.
set(KVUPDATER_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file (certificate and private key) that signs KVUpdater.exe; empty: no signing")
set(KVUPDATER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of KVUPDATER_SIGN_PKCS12")
set(KVUPDATER_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signatures (optional)")
if(KVUPDATER_SIGN_PKCS12)
  if(NOT EXISTS "${KVUPDATER_SIGN_PKCS12}")
    message(FATAL_ERROR "KVUPDATER_SIGN_PKCS12: ${KVUPDATER_SIGN_PKCS12} does not exist")
  endif()
  if(NOT EXISTS "${KVUPDATER_SIGN_PASSWORD_FILE}")
    message(FATAL_ERROR "KVUPDATER_SIGN_PKCS12 needs its password in a file: "
                        "-DKVUPDATER_SIGN_PASSWORD_FILE=<file>")
  endif()
endif()

# kvupdater_sign(TARGET PKCS12 file PASSWORD_FILE file [TIMESTAMP_URL url]):
# signs TARGET's program after each link. Should signing fail, make deletes
# the program, so that no unsigned one is taken for signed.
function(kvupdater_sign TARGET)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "PKCS12;PASSWORD_FILE;TIMESTAMP_URL" "")
  find_program(KV_OSSLSIGNCODE osslsigncode)
  if(NOT EXISTS "${KV_OSSLSIGNCODE}")
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/setup installs it)")
  endif()
  set(timestamp)
  if(ARG_TIMESTAMP_URL)
    set(timestamp -ts ${ARG_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ${TARGET} POST_BUILD
    COMMAND ${KV_OSSLSIGNCODE} sign -pkcs12 ${ARG_PKCS12} -readpass ${ARG_PASSWORD_FILE}
            -h sha256 -n "Konvoro updater" ${timestamp}
            -in $<TARGET_FILE:${TARGET}> -out $<TARGET_FILE:${TARGET}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${TARGET}>.signed $<TARGET_FILE:${TARGET}>
    COMMENT "Signing ${TARGET}"
    VERBATIM)
endfunction()

function(kvupdater_add_executable NAME)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "NO_PAYLOAD;ALLOW_NO_WAIT;ALLOW_DAMAGED_PAYLOAD"
                        "PAYLOAD;FORM;OUTPUT_DIRECTORY;VERSION;SIGN_PKCS12;SIGN_PASSWORD_FILE"
                        "SOURCES")
  if(NOT ARG_PAYLOAD AND NOT ARG_NO_PAYLOAD)
    message(FATAL_ERROR "kvupdater_add_executable(${NAME}): PAYLOAD or NO_PAYLOAD is required")
  endif()
  if(NOT ARG_FORM)
    set(ARG_FORM ${KV_UPDATER_SOURCE_DIR}/fmDoKVUpdate.dfm)
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${NAME})
  endif()

  if(NOT ARG_VERSION)
    set(ARG_VERSION ${KVUPDATER_RELEASE_VERSION})
  endif()
  if(NOT ARG_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "kvupdater_add_executable(${NAME}): the version '${ARG_VERSION}' is not "
                        "four numbers a.b.c.d (set KVUPDATER_RELEASE_VERSION)")
  endif()
  foreach(part 1 2 3 4)
    if(CMAKE_MATCH_${part} GREATER 65535)
      message(FATAL_ERROR "kvupdater_add_executable(${NAME}): ${ARG_VERSION}: parts go to 65535")
    endif()
  endforeach()
  set(KV_VERSION ${ARG_VERSION})
  string(REPLACE "." "," KV_VERSION_COMMAS ${ARG_VERSION})
  set(timestamp_url)
  if(NOT ARG_SIGN_PKCS12)
    set(ARG_SIGN_PKCS12 ${KVUPDATER_SIGN_PKCS12})
    set(ARG_SIGN_PASSWORD_FILE ${KVUPDATER_SIGN_PASSWORD_FILE})
    set(timestamp_url ${KVUPDATER_SIGN_TIMESTAMP_URL})
  endif()

  set(KV_MANIFEST ${CMAKE_BINARY_DIR}/updater-common/KVUpdater.manifest)
  set(common_rc ${CMAKE_BINARY_DIR}/updater-common/KVUpdater-${ARG_VERSION}.rc)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.manifest ${KV_MANIFEST} @ONLY)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.rc.in ${common_rc} @ONLY)

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-resources.rc)
  set(content "#include \"${common_rc}\"\nTFORM1 RCDATA \"${ARG_FORM}\"\n")
  set(depends ${common_rc} ${KV_MANIFEST} ${ARG_FORM})
  set(checked)
  if(ARG_PAYLOAD)
    string(APPEND content "${KV_PAYLOAD_RESOURCE} RCDATA \"${ARG_PAYLOAD}\"\n")
    list(APPEND depends ${ARG_PAYLOAD})
    if(NOT ARG_ALLOW_NO_WAIT AND NOT ARG_ALLOW_DAMAGED_PAYLOAD)
      set(checked ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-payload.checked)
      add_custom_command(
        OUTPUT ${checked}
        COMMAND ${CMAKE_COMMAND} -DZLBTOOL=${KV_HOST_ZLBTOOL} -DPAYLOAD=${ARG_PAYLOAD}
                -DSTAMP=${checked} -P ${KV_CHECK_PAYLOAD_SCRIPT}
        DEPENDS host_tools ${KV_HOST_ZLBTOOL} ${ARG_PAYLOAD} ${KV_CHECK_PAYLOAD_SCRIPT}
        COMMENT "Checking that the payload of ${NAME} carries wait.exe"
        VERBATIM)
      list(APPEND depends ${checked})
    endif()
  endif()
  file(CONFIGURE OUTPUT ${rc} CONTENT "${content}")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")

  add_executable(${NAME} WIN32 ${KV_UPDATER_SOURCE_DIR}/KVUpdater.cpp ${rc} ${ARG_SOURCES}
                               ${checked})
  target_link_libraries(${NAME} PRIVATE kvupdater_core kv_warnings)
  set_target_properties(${NAME} PROPERTIES OUTPUT_NAME KVUpdater
                                           RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  if(ARG_SIGN_PKCS12)
    kvupdater_sign(${NAME} PKCS12 ${ARG_SIGN_PKCS12} PASSWORD_FILE ${ARG_SIGN_PASSWORD_FILE}
                   TIMESTAMP_URL "${timestamp_url}")
  endif()
  # After signing, so that what is checked is what ships.
  if(ARG_PAYLOAD AND NOT ARG_ALLOW_DAMAGED_PAYLOAD)
    set(allow_no_wait)
    if(ARG_ALLOW_NO_WAIT)
      set(allow_no_wait -DALLOW_NO_WAIT=ON)
    endif()
    add_dependencies(${NAME} host_tools)
    add_custom_command(TARGET ${NAME} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DZLBTOOL=${KV_HOST_ZLBTOOL} -DPAYLOAD=$<TARGET_FILE:${NAME}>
              -DTEST_ENTRIES=ON ${allow_no_wait} -DREMOVE_ON_FAILURE=ON
              -P ${KV_CHECK_PAYLOAD_SCRIPT}
      COMMENT "Checking the payload that ${NAME} carries"
      VERBATIM)
  endif()
endfunction()
