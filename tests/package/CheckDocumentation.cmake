# The manual page and the bash completion against zlbtool itself (cmake
# -DZLBTOOL=... -DMAN_PAGE=... -DCOMPLETION=... -P): every command that
# `zlbtool --help` lists and every option that `zlbtool COMMAND --help`
# names is in the manual page and completed for that command; option values
# complete as they should.
cmake_minimum_required(VERSION 3.25)

set(Failures)
file(READ ${MAN_PAGE} Man)

# The words that bash completion offers for the command line LINE, the word
# under the cursor being the last (empty after a trailing blank).
function(complete LINE Result)
  execute_process(
    COMMAND bash --norc --noprofile -c [=[
      source "$1" || exit 1
      # bash makes "=" a word of its own.
      line=${2//=/ = }
      read -r -a COMP_WORDS <<<"$line"
      [[ $line == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _zlbtool zlbtool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      printf '%s\n' "${COMPREPLY[@]}"]=] completion ${COMPLETION} "${LINE}"
    RESULT_VARIABLE Status OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
  if(NOT Status EQUAL 0)
    message(FATAL_ERROR "completing '${LINE}' failed:\n${Err}")
  endif()
  string(REGEX REPLACE "\n$" "" Out "${Out}")
  string(REPLACE "\n" ";" Out "${Out}")
  set(${Result} "${Out}" PARENT_SCOPE)
endfunction()

# Whether the manual page's source names WORD, with its hyphens escaped.
function(check_man WORD Where)
  string(REPLACE "-" "\\-" Escaped "${WORD}")
  string(FIND "${Man}" "${Escaped}" At)
  if(At EQUAL -1)
    list(APPEND Failures "the manual page lacks ${WORD} (${Where})")
    set(Failures "${Failures}" PARENT_SCOPE)
  endif()
endfunction()

function(check_offered LINE WORD)
  complete("${LINE}" Offered)
  if(NOT WORD IN_LIST Offered)
    list(APPEND Failures "completing '${LINE}' does not offer ${WORD} (offered: ${Offered})")
    set(Failures "${Failures}" PARENT_SCOPE)
  endif()
endfunction()

execute_process(COMMAND ${ZLBTOOL} --help OUTPUT_VARIABLE Help RESULT_VARIABLE Status)
string(REGEX MATCHALL "\n  [a-z]+  " Lines "${Help}")
set(Commands)
foreach(Line IN LISTS Lines)
  string(STRIP "${Line}" Command)
  list(APPEND Commands ${Command})
endforeach()
if(NOT Status EQUAL 0 OR NOT Commands)
  message(FATAL_ERROR "zlbtool --help lists no commands:\n${Help}")
endif()

foreach(Command IN LISTS Commands)
  check_man("zlbtool ${Command}" "SYNOPSIS")
  check_offered("zlbtool " ${Command})
  execute_process(COMMAND ${ZLBTOOL} ${Command} --help OUTPUT_VARIABLE Usage)
  # Options stand after a blank or an opening bracket, and before a blank,
  # a comma or a closing bracket; brackets would upset CMake's lists.
  string(REGEX REPLACE "[][(),|=]" " " Usage " ${Usage} ")
  # Each match takes the blank after it: doubled, one is left for the next.
  string(REPLACE " " "  " Usage "${Usage}")
  string(REGEX MATCHALL "[ \n]--?[a-z][a-z-]*[ \n]" Options "${Usage}")
  list(TRANSFORM Options STRIP)
  list(REMOVE_DUPLICATES Options)
  foreach(Option IN LISTS Options)
    check_man(${Option} "zlbtool ${Command} --help")
    check_offered("zlbtool ${Command} -" ${Option})
  endforeach()
endforeach()

# Values: code pages, the forms "--opt value" and "--opt=value", and no
# command's options before a command.
foreach(Row "zlbtool pack --code-page |932" "zlbtool list --code-page=6|65001"
            "zlbtool updater --code-page 125|1258" "zlbtool -|--version")
  string(REPLACE "|" ";" Row "${Row}")
  list(GET Row 0 Line)
  list(GET Row 1 Word)
  check_offered("${Line}" ${Word})
endforeach()
complete("zlbtool --" Offered)
if("--json" IN_LIST Offered)
  list(APPEND Failures "completing 'zlbtool --' offers a command's option: ${Offered}")
endif()
complete("zlbtool test --threads " Offered)
if(Offered)
  list(APPEND Failures "completing 'zlbtool test --threads ' offers ${Offered}, not a number")
endif()

if(Failures)
  list(JOIN Failures "\n  " Failures)
  message(FATAL_ERROR "the documents miss zlbtool's command line:\n  ${Failures}")
endif()
message(STATUS "commands checked: ${Commands}")
