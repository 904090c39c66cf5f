# The cross build needs programs that run on the build machine (zlbtool,
# which packs payloads): they are built from this same tree with the native
# compiler, as a nested project.
include(ExternalProject)

set(KV_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
set(KV_HOST_ZLBTOOL ${KV_HOST_TOOLS_DIR}/tools/zlbtool)
set(KV_HOST_MAKE_PAYLOADS ${KV_HOST_TOOLS_DIR}/tests/e2e/make_payloads)

ExternalProject_Add(host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KV_HOST_TOOLS_DIR}
  CMAKE_ARGS
    -DKV_HOST_TOOLS_ONLY=ON
    -DKV_WERROR=${KV_WERROR}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_COMPILER=gcc
    -DCMAKE_CXX_COMPILER=g++
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KV_HOST_ZLBTOOL} ${KV_HOST_MAKE_PAYLOADS}
  USES_TERMINAL_BUILD OFF)
