# How the build makes KVUpdater.exe, the way a release engineer does: the
# stub, the updater program without a payload, is linked once
# (kvupdater_add_stub), and the build machine's `zlbtool updater` writes the
# payload into a copy of it (kvupdater_add_executable).
#
# kvupdater_add_stub(NAME [FORM text] [OUTPUT_DIRECTORY dir] [SOURCES file...])
#
# Links KVUpdater-stub.exe: the program with its manifest, the main window's
# stored properties (RCDATA "TFORM1", by default the program's own) and the
# version resource, which carries the project's version and the string that
# marks a stub (KVUpdaterStub). Run alone, it says "Resource ZLBData not
# found.". SOURCES are linked before the libraries: a test variant replaces
# a platform function so. The shared stub of the build is KV_UPDATER_STUB.
#
# kvupdater_add_executable(NAME (PAYLOAD archive | RELEASE_DIR dir [RELEASE_FILES file...])
#                          [ALLOW_NO_WAIT] [ALLOW_DAMAGED_PAYLOAD]
#                          [FORM text] [SOURCES file...] [OUTPUT_DIRECTORY dir]
#                          [VERSION a.b.c.d] [CODE_PAGE n] [FLATTEN] [DEPENDS target...]
#                          [SIGN_PKCS12 file SIGN_PASSWORD_FILE file])
#
# Makes KVUpdater.exe with `zlbtool updater` of the build machine: around
# the files of RELEASE_DIR (RELEASE_FILES, and the targets DEPENDS names,
# are what they come from, for the dependencies), packed as `zlbtool pack`
# packs them, or around an archive made already (PAYLOAD). The stub is the
# build's own, or one linked for this program alone when FORM or SOURCES
# are given. The program is always named KVUpdater.exe, in OUTPUT_DIRECTORY
# (default: a directory named NAME in the current binary directory), since
# its title comes from its file name; the target's property KVUPDATER_FILE
# names it.
#
# zlbtool refuses a release without wait.exe (cmake/CheckPayload.cmake says
# why) and reads back what it wrote: every entry of the payload must test
# clean and wait.exe be there, or no program appears and the build stops.
# ALLOW_NO_WAIT skips the wait.exe checks, for test variants whose payloads
# lack one; ALLOW_DAMAGED_PAYLOAD skips every check of the payload, for
# variants whose payloads are damaged on purpose. VERSION (default:
# KVUPDATER_RELEASE_VERSION) is the release's version, its FileVersion and
# ProductVersion. CODE_PAGE (default: KVUPDATER_RELEASE_CODE_PAGE) is the
# ANSI code page of the systems it installs on, in which names outside ASCII
# are stored; FLATTEN (default: KVUPDATER_RELEASE_FLATTEN) accepts a release
# with sub-folders, whose files the updater installs into the installation
# folder itself. With a certificate (default: the KVUPDATER_SIGN_* options
# below) the program is signed once the payload is in, and its payload then
# checked once more in the signed program; should either fail, no program
# appears.
set(KV_UPDATER_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../updater)
set(KV_CHECK_PAYLOAD_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckPayload.cmake)

# The payload's resource name, in the upper case that resource compilers
# store, and the stub's mark (cmake/PayloadFacts.cmake).
string(TOUPPER "${KV_PAYLOAD_RESOURCE_NAME}" KV_PAYLOAD_RESOURCE)
set(KV_STUB_MARKER ${KV_PAYLOAD_STUB_MARKER})

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

function(kvupdater_add_stub NAME)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "FORM;OUTPUT_DIRECTORY" "SOURCES")
  if(NOT ARG_FORM)
    set(ARG_FORM ${KV_UPDATER_SOURCE_DIR}/fmDoKVUpdate.dfm)
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${NAME})
  endif()
  # The stub's own version: the project's, until zlbtool sets the release's.
  set(KV_VERSION ${PROJECT_VERSION}.0)
  string(REPLACE "." "," KV_VERSION_COMMAS ${KV_VERSION})
  set(KV_MANIFEST ${CMAKE_BINARY_DIR}/updater-common/KVUpdater.manifest)
  set(common_rc ${CMAKE_BINARY_DIR}/updater-common/KVUpdater.rc)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.manifest ${KV_MANIFEST} @ONLY)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.rc.in ${common_rc} @ONLY)

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-resources.rc)
  file(CONFIGURE OUTPUT ${rc}
       CONTENT "#include \"${common_rc}\"\nTFORM1 RCDATA \"${ARG_FORM}\"\n")
  set_source_files_properties(${rc} PROPERTIES
                              OBJECT_DEPENDS "${common_rc};${KV_MANIFEST};${ARG_FORM}")
  add_executable(${NAME} WIN32 ${KV_UPDATER_SOURCE_DIR}/KVUpdater.cpp ${rc} ${ARG_SOURCES})
  target_link_libraries(${NAME} PRIVATE kvupdater_core kv_warnings)
  string(REGEX REPLACE "\\.exe$" "" stub_name ${KV_STUB_FILE_NAME})
  set_target_properties(${NAME} PROPERTIES OUTPUT_NAME ${stub_name}
                                           RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
endfunction()

# The release's code page and shape, for every updater the build makes
# unless it says otherwise.
set(KVUPDATER_RELEASE_CODE_PAGE "" CACHE STRING
    "ANSI code page of the systems the updaters install on (1252, 1250, 1251, 932, ...): needed for names outside ASCII")
option(KVUPDATER_RELEASE_FLATTEN
       "Accept release folders with sub-folders, whose files the updater installs into the installation folder itself"
       OFF)

function(kvupdater_add_executable NAME)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "ALLOW_NO_WAIT;ALLOW_DAMAGED_PAYLOAD;FLATTEN"
                        "PAYLOAD;RELEASE_DIR;FORM;OUTPUT_DIRECTORY;VERSION;CODE_PAGE;SIGN_PKCS12;SIGN_PASSWORD_FILE"
                        "RELEASE_FILES;SOURCES;DEPENDS")
  if((ARG_PAYLOAD AND ARG_RELEASE_DIR) OR (NOT ARG_PAYLOAD AND NOT ARG_RELEASE_DIR))
    message(FATAL_ERROR "kvupdater_add_executable(${NAME}): PAYLOAD or RELEASE_DIR, one of them")
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${NAME})
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${KVUPDATER_RELEASE_VERSION})
  endif()
  if(NOT ARG_CODE_PAGE)
    set(ARG_CODE_PAGE ${KVUPDATER_RELEASE_CODE_PAGE})
  endif()
  if(KVUPDATER_RELEASE_FLATTEN)
    set(ARG_FLATTEN ON)
  endif()
  # zlbtool's rule, told here already when the build is configured.
  set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT ARG_VERSION MATCHES "^${number}\\.${number}\\.${number}\\.${number}$")
    message(FATAL_ERROR "kvupdater_add_executable(${NAME}): the version '${ARG_VERSION}' is not "
                        "four numbers a.b.c.d without leading zeros (set KVUPDATER_RELEASE_VERSION)")
  endif()
  foreach(part 1 2 3 4)
    if(CMAKE_MATCH_${part} GREATER 65535)
      message(FATAL_ERROR "kvupdater_add_executable(${NAME}): ${ARG_VERSION}: parts go to 65535")
    endif()
  endforeach()
  set(timestamp_url)
  if(NOT ARG_SIGN_PKCS12)
    set(ARG_SIGN_PKCS12 ${KVUPDATER_SIGN_PKCS12})
    set(ARG_SIGN_PASSWORD_FILE ${KVUPDATER_SIGN_PASSWORD_FILE})
    set(timestamp_url ${KVUPDATER_SIGN_TIMESTAMP_URL})
  endif()

  set(stub ${KV_UPDATER_STUB})
  if(ARG_FORM OR ARG_SOURCES)
    set(stub ${NAME}_stub)
    set(form)
    if(ARG_FORM)
      set(form FORM ${ARG_FORM})
    endif()
    kvupdater_add_stub(${stub} ${form} SOURCES ${ARG_SOURCES}
                       OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-stub)
  endif()

  set(program ${ARG_OUTPUT_DIRECTORY}/KVUpdater.exe)
  set(made ${program})
  if(ARG_SIGN_PKCS12)
    set(made ${program}.unsigned)
  endif()
  set(checks)
  if(ARG_ALLOW_DAMAGED_PAYLOAD)
    set(checks --allow-damaged-payload)
  elseif(ARG_ALLOW_NO_WAIT)
    set(checks --allow-no-wait)
  endif()
  # The code page of the systems it installs on, in which names are stored;
  # a release with sub-folders says that the updater is to flatten it.
  if(ARG_CODE_PAGE)
    list(APPEND checks --code-page ${ARG_CODE_PAGE})
  endif()
  if(ARG_FLATTEN)
    list(APPEND checks --flatten)
  endif()
  if(ARG_PAYLOAD)
    set(release --payload ${ARG_PAYLOAD})
    set(release_depends ${ARG_PAYLOAD})
  else()
    set(release ${ARG_RELEASE_DIR})
    set(release_depends ${ARG_RELEASE_FILES} ${ARG_DEPENDS})
  endif()
  set(commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTPUT_DIRECTORY}
    COMMAND ${KV_HOST_ZLBTOOL} updater --stub $<TARGET_FILE:${stub}> --version ${ARG_VERSION}
            ${checks} -o ${made} ${release})
  if(ARG_SIGN_PKCS12)
    find_program(KV_OSSLSIGNCODE osslsigncode)
    if(NOT EXISTS "${KV_OSSLSIGNCODE}")
      message(FATAL_ERROR "Signing needs osslsigncode (scripts/setup installs it)")
    endif()
    set(timestamp)
    if(timestamp_url)
      set(timestamp -ts ${timestamp_url})
    endif()
    list(APPEND commands
      COMMAND ${KV_OSSLSIGNCODE} sign -pkcs12 ${ARG_SIGN_PKCS12} -readpass ${ARG_SIGN_PASSWORD_FILE}
              -h sha256 -n "Konvoro updater" ${timestamp} -in ${made} -out ${program}.signed
      COMMAND ${CMAKE_COMMAND} -E rm ${made})
    # What is checked is what ships.
    if(NOT ARG_ALLOW_DAMAGED_PAYLOAD)
      set(allow_no_wait)
      if(ARG_ALLOW_NO_WAIT)
        set(allow_no_wait -DALLOW_NO_WAIT=ON)
      endif()
      list(APPEND commands
        COMMAND ${CMAKE_COMMAND} -DZLBTOOL=${KV_HOST_ZLBTOOL} -DPAYLOAD=${program}.signed
                -DTEST_ENTRIES=ON ${allow_no_wait} -DREMOVE_ON_FAILURE=ON
                -P ${KV_CHECK_PAYLOAD_SCRIPT})
    endif()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E rename ${program}.signed ${program})
  endif()
  add_custom_command(OUTPUT ${program} ${commands}
    DEPENDS host_tools ${KV_HOST_ZLBTOOL} ${stub} ${release_depends} ${KV_CHECK_PAYLOAD_SCRIPT}
    COMMENT "Making ${program} with zlbtool updater"
    VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${program})
  set_target_properties(${NAME} PROPERTIES KVUPDATER_FILE ${program})
endfunction()
