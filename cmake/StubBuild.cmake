# The stub for zlbtool's Debian package, from a Linux build: whenever the
# mingw-w64 toolchain that the win32 preset uses is present, a nested cross
# build makes KVUpdater-stub.exe as the win32 build does, in Release, and
# the install puts it beside zlbtool (cmake/Install.cmake). KV_PACKAGED_STUB
# names it; unset without the toolchain.
include(ExternalProject)

set(toolchain ${PROJECT_SOURCE_DIR}/cmake/toolchain-i686-w64-mingw32.cmake)
file(STRINGS ${toolchain} triple REGEX "^set\\(KV_MINGW_TRIPLE ")
string(REGEX REPLACE "^set\\(KV_MINGW_TRIPLE ([^)]+)\\)$" "\\1" triple "${triple}")
find_program(KV_MINGW_CXX ${triple}-g++-posix)
find_program(KV_MINGW_WINDRES ${triple}-windres)
set(stub_default OFF)
if(KV_MINGW_CXX AND KV_MINGW_WINDRES AND EXISTS /usr/${triple}/include/zlib.h)
  set(stub_default ON)
endif()
option(KV_BUILD_STUB "Build the updater stub for zlbtool's package (needs mingw-w64)"
       ${stub_default})
if(NOT KV_BUILD_STUB)
  message(STATUS "No updater stub in zlbtool's package: no mingw-w64 toolchain "
                 "(scripts/setup installs it)")
  return()
endif()

set(stub_dir ${CMAKE_BINARY_DIR}/stub-build)
set(KV_PACKAGED_STUB ${stub_dir}/bin/${KV_STUB_FILE_NAME})
ExternalProject_Add(stub_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${stub_dir}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    -DCMAKE_BUILD_TYPE=Release
    -DKV_STUB_ONLY=ON
    -DKV_WERROR=${KV_WERROR}
  # Its default build is the stub alone (KV_STUB_ONLY), made with this
  # build's make and its jobs.
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KV_PACKAGED_STUB}
  USES_TERMINAL_BUILD OFF)
# As for the host tools (cmake/HostTools.cmake): the nested build runs again
# only when what it reads changed.
file(GLOB_RECURSE stub_inputs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/archive/*
  ${PROJECT_SOURCE_DIR}/platform/*
  ${PROJECT_SOURCE_DIR}/updater/*)
file(GLOB stub_top_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/*)
list(APPEND stub_inputs ${stub_top_inputs} ${PROJECT_SOURCE_DIR}/CMakeLists.txt)
ExternalProject_Add_Step(stub_build inputs
  COMMENT "Updater stub: sources changed"
  DEPENDEES configure
  DEPENDERS build
  DEPENDS ${stub_inputs})
