# A Linux build where mingw-w64 lacks its compiler (cmake -DSOURCE_DIR=...
# -DWORK_DIR=... -DCC=... -DCXX=... -P): it configures without the stub,
# its target stub_build says what is missing instead of not existing, and
# KV_BUILD_STUB=ON, as scripts/package asks, stops the configure with that.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
set(Missing "the updater stub cannot be built: mingw-w64 lacks i686-w64-mingw32-g++-posix "
            "(g++-mingw-w64-i686-posix)")
string(JOIN "" Missing ${Missing})
set(Configure ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -DCMAKE_BUILD_TYPE=Release
              -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX} -DKV_BUILD_TESTS=OFF
              -DKV_MINGW_CXX=${WORK_DIR}/no-such-compiler)

# Runs a step; it must end with SUCCEEDS (TRUE or FALSE) and say SAYS.
function(expect What SUCCEEDS SAYS)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE Result OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
  # CMake wraps the lines of its errors.
  string(REGEX REPLACE "[ \n]+" " " Said "${Out}${Err}")
  string(FIND "${Said}" "${SAYS}" At)
  if(Result EQUAL 0)
    set(Succeeded TRUE)
  else()
    set(Succeeded FALSE)
  endif()
  if(NOT Succeeded STREQUAL SUCCEEDS OR At EQUAL -1)
    message(FATAL_ERROR "${What}: should end with success ${SUCCEEDS} and say '${SAYS}':\n"
                        "${Out}${Err}")
  endif()
endfunction()

expect("the configure without the stub's compiler" TRUE
       "No updater stub in zlbtool's package: ${Missing}" ${Configure})
expect("the target stub_build" FALSE "stub_build: ${Missing}"
       ${CMAKE_COMMAND} --build ${WORK_DIR} --target stub_build)
expect("the configure with KV_BUILD_STUB=ON" FALSE "KV_BUILD_STUB: ${Missing}"
       ${Configure} -DKV_BUILD_STUB=ON)
file(REMOVE_RECURSE ${WORK_DIR})
