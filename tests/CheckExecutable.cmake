# Checks the shape of KVUpdater.exe (cmake -DOBJDUMP=... -DEXE=... -P): a
# 32-bit Windows GUI program that imports Windows system DLLs only and
# carries its payload, form, version and manifest. Optionally also
#   -DWINDRES=... -DVERSION=a.b.c.d   its FileVersion and ProductVersion, in
#                                     the fixed and the string parts
#   -DMAX_PROGRAM_BYTES=n             the file less its payload: n at most
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE Dump RESULT_VARIABLE Result)
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${EXE} failed")
endif()

function(expect Pattern What)
  if(NOT Dump MATCHES "${Pattern}")
    message(FATAL_ERROR "${EXE}: not ${What}")
  endif()
endfunction()
expect("Magic[ \t]+010b[ \t]+\\(PE32\\)" "a PE32 image")
expect("Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)" "a Windows GUI program")
expect("name: [^\n]*: ZLBDATA" "carrying the payload (RCDATA ZLBDATA)")
expect("name: [^\n]*: TFORM1" "carrying the form (RCDATA TFORM1)")
expect("Entry: ID: 0x000010," "carrying a version resource")
expect("Entry: ID: 0x000018," "carrying a manifest")

# The DLLs that ship with every supported Windows; anything else could be
# planted beside the program.
set(SystemDlls advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ntdll ole32 oleaut32 shell32
    shlwapi user32 version)
string(REGEX MATCHALL "DLL Name: [^\n]+" Imports "${Dump}")
if(NOT Imports)
  message(FATAL_ERROR "${EXE}: no import table found")
endif()
foreach(Import IN LISTS Imports)
  string(REGEX REPLACE "DLL Name: ([^ \t\r]+)\\.[dD][lL][lL].*" "\\1" Dll "${Import}")
  string(TOLOWER "${Dll}" Dll)
  if(NOT Dll IN_LIST SystemDlls)
    message(FATAL_ERROR "${EXE} imports ${Dll}.dll, which is no Windows system DLL")
  endif()
  message(STATUS "imports ${Dll}.dll")
endforeach()

file(STRINGS ${EXE} Elevation REGEX "requestedExecutionLevel level=\"requireAdministrator\"")
if(NOT Elevation)
  message(FATAL_ERROR "${EXE}: the manifest does not ask for administrator rights")
endif()

if(DEFINED VERSION)
  execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE Resources
                  RESULT_VARIABLE Result)
  if(NOT Result EQUAL 0)
    message(FATAL_ERROR "windres -i ${EXE} failed")
  endif()
  string(REPLACE "." ", " Numbers "${VERSION}")
  foreach(Line "FILEVERSION ${Numbers}" "PRODUCTVERSION ${Numbers}"
          "VALUE \"FileVersion\", \"${VERSION}\"" "VALUE \"ProductVersion\", \"${VERSION}\"")
    string(FIND "${Resources}" "${Line}\n" At)
    if(At EQUAL -1)
      message(FATAL_ERROR "${EXE}: the version resource lacks '${Line}'")
    endif()
  endforeach()
endif()

if(DEFINED MAX_PROGRAM_BYTES)
  if(NOT Dump MATCHES "ZLBDATA, [^\n]*\n[^\n]*\n[^\n]*\n[^\n]*Leaf: [^\n]*, Size: 0x([0-9a-fA-F]+)")
    message(FATAL_ERROR "${EXE}: the payload's size was not found")
  endif()
  math(EXPR PayloadBytes "0x${CMAKE_MATCH_1}")
  file(SIZE ${EXE} FileBytes)
  math(EXPR ProgramBytes "${FileBytes} - ${PayloadBytes}")
  message(STATUS "${ProgramBytes} bytes beside a payload of ${PayloadBytes}")
  if(ProgramBytes GREATER MAX_PROGRAM_BYTES)
    message(FATAL_ERROR "${EXE}: ${ProgramBytes} bytes beside its payload, over the budget of "
                        "${MAX_PROGRAM_BYTES}")
  endif()
endif()
