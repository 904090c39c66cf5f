# The cross build needs programs that run on the build machine (zlbtool,
# which makes the updaters, and the test payload maker): they are built from
# this same tree with the native compiler, as a nested project.
include(ExternalProject)

set(KV_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(KV_HOST_ZLBTOOL ${KV_HOST_TOOLS_DIR}/tools/zlbtool)
set(KV_HOST_MAKE_PAYLOADS ${KV_HOST_TOOLS_DIR}/tests/e2e/make_payloads)

# The nested configure finds the build machine's compilers as any native
# build does (CC and CXX, else cc and c++); these override them.
set(KV_HOST_C_COMPILER "" CACHE FILEPATH
    "C compiler of the nested native build of the host tools (empty: CMake's choice)")
set(KV_HOST_CXX_COMPILER "" CACHE FILEPATH
    "C++ compiler of the nested native build of the host tools (empty: CMake's choice)")
set(host_compilers)
if(KV_HOST_C_COMPILER)
  list(APPEND host_compilers -DCMAKE_C_COMPILER=${KV_HOST_C_COMPILER})
endif()
if(KV_HOST_CXX_COMPILER)
  list(APPEND host_compilers -DCMAKE_CXX_COMPILER=${KV_HOST_CXX_COMPILER})
endif()

# Everything the nested build reads. Its build step runs only when one of
# these changed (and make there then rebuilds what depends on it), so that
# a build with nothing changed leaves it alone; CONFIGURE_DEPENDS sees added
# and removed files too.
file(GLOB_RECURSE host_tool_inputs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/archive/*
  ${PROJECT_SOURCE_DIR}/pe/*
  ${PROJECT_SOURCE_DIR}/platform/common/*
  ${PROJECT_SOURCE_DIR}/platform/include/*
  ${PROJECT_SOURCE_DIR}/platform/posix/*
  ${PROJECT_SOURCE_DIR}/tools/*
  ${PROJECT_SOURCE_DIR}/tests/support/*)
file(GLOB host_tool_top_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/*)
list(APPEND host_tool_inputs ${host_tool_top_inputs}
  ${PROJECT_SOURCE_DIR}/CMakeLists.txt
  ${PROJECT_SOURCE_DIR}/platform/CMakeLists.txt
  ${PROJECT_SOURCE_DIR}/updater/PayloadResource.h.in
  ${PROJECT_SOURCE_DIR}/tests/e2e/CMakeLists.txt
  ${PROJECT_SOURCE_DIR}/tests/e2e/MakePayloads.cpp)

# Built only for what needs it (the updaters made by the build, the test
# payloads): a build of the programs alone, for the Windows zip of
# scripts/package, goes without.
ExternalProject_Add(host_tools
  EXCLUDE_FROM_ALL TRUE
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KV_HOST_TOOLS_DIR}
  CMAKE_ARGS
    -DKV_HOST_TOOLS_ONLY=ON
    -DKV_WERROR=${KV_WERROR}
    -DCMAKE_BUILD_TYPE=Release
    ${host_compilers}
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KV_HOST_ZLBTOOL} ${KV_HOST_MAKE_PAYLOADS}
  USES_TERMINAL_BUILD OFF)
ExternalProject_Add_Step(host_tools inputs
  COMMENT "Host tools: sources changed"
  DEPENDEES configure
  DEPENDERS build
  DEPENDS ${host_tool_inputs})
