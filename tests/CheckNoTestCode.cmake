# Checks that a program carries no test code (cmake -DNM=... -DEXE=... -P):
# its symbol table names the archive component, so symbols are there to
# look at, and none of the test-only layer (the failing operating system,
# the old fault seam, the linker's routing through it).
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -C ${EXE} OUTPUT_VARIABLE Symbols RESULT_VARIABLE Result)
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "nm -C ${EXE} failed")
endif()
if(NOT Symbols MATCHES "kv::TZLBArchive::OpenArchive")
  message(FATAL_ERROR "${EXE}: no symbols to check")
endif()
string(REGEX MATCHALL "[^\n]*(kv::fault|kvtest|FailingSystem|__wrap_|__real_)[^\n]*" Found
       "${Symbols}")
if(Found)
  list(JOIN Found "\n" Found)
  message(FATAL_ERROR "${EXE} carries test code:\n${Found}")
endif()
