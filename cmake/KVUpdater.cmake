# kvupdater_add_executable(NAME [PAYLOAD archive | NO_PAYLOAD] [ALLOW_NO_WAIT]
#                          [FORM text] [OUTPUT_DIRECTORY dir] [SOURCES file...])
#
# Builds KVUpdater.exe around a payload archive (RCDATA "ZLBDATA") with the
# main window's stored properties (RCDATA "TFORM1", by default the
# program's own), the manifest and the version. The program is always named
# KVUpdater.exe, in OUTPUT_DIRECTORY (default: a directory named NAME in the
# current binary directory), since its title comes from its file name.
#
# The payload must carry a wait.exe (cmake/CheckPayload.cmake says why); the
# build stops otherwise. ALLOW_NO_WAIT skips that check, for test variants
# whose payloads lack one or are damaged on purpose. SOURCES are linked
# before the libraries: a test variant replaces a platform function so.
set(KV_UPDATER_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../updater)
set(KV_CHECK_PAYLOAD_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckPayload.cmake)

function(kvupdater_add_executable NAME)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "NO_PAYLOAD;ALLOW_NO_WAIT" "PAYLOAD;FORM;OUTPUT_DIRECTORY"
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

  set(KV_MANIFEST ${CMAKE_BINARY_DIR}/updater-common/KVUpdater.manifest)
  set(common_rc ${CMAKE_BINARY_DIR}/updater-common/KVUpdater.rc)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.manifest ${KV_MANIFEST} @ONLY)
  configure_file(${KV_UPDATER_SOURCE_DIR}/KVUpdater.rc.in ${common_rc} @ONLY)

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-resources.rc)
  set(content "#include \"${common_rc}\"\nTFORM1 RCDATA \"${ARG_FORM}\"\n")
  set(depends ${common_rc} ${KV_MANIFEST} ${ARG_FORM})
  set(checked)
  if(ARG_PAYLOAD)
    string(APPEND content "ZLBDATA RCDATA \"${ARG_PAYLOAD}\"\n")
    list(APPEND depends ${ARG_PAYLOAD})
    if(NOT ARG_ALLOW_NO_WAIT)
      set(checked ${CMAKE_CURRENT_BINARY_DIR}/${NAME}-payload.checked)
      add_custom_command(
        OUTPUT ${checked}
        COMMAND ${CMAKE_COMMAND} -DZLBTOOL=${KV_HOST_ZLBTOOL} -DPAYLOAD=${ARG_PAYLOAD}
                -DSTAMP=${checked} -P ${KV_CHECK_PAYLOAD_SCRIPT}
        DEPENDS host_tools ${ARG_PAYLOAD} ${KV_CHECK_PAYLOAD_SCRIPT}
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
endfunction()
