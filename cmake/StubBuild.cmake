# The stub and wait.exe for zlbtool's Debian package, from a Linux build:
# whenever the mingw-w64 toolchain that the win32 preset uses is present, a
# nested cross build (target stub_build, in build/<tree>/stub-build) makes
# KVUpdater-stub.exe and wait.exe as the win32 build does, in Release, and
# the install puts them beside zlbtool (cmake/Install.cmake).
# KV_PACKAGED_STUB and KV_PACKAGED_WAIT name them. Without the toolchain
# they stay unset, and stub_build only says what is missing; KV_BUILD_STUB=ON
# then stops the configure with that, so that no package is made without
# the stub.
include(ExternalProject)

set(toolchain ${PROJECT_SOURCE_DIR}/cmake/toolchain-i686-w64-mingw32.cmake)
file(STRINGS ${toolchain} triple REGEX "^set\\(KV_MINGW_TRIPLE ")
string(REGEX REPLACE "^set\\(KV_MINGW_TRIPLE ([^)]+)\\)$" "\\1" triple "${triple}")
find_program(KV_MINGW_CXX ${triple}-g++-posix)
find_program(KV_MINGW_WINDRES ${triple}-windres)
set(KV_MINGW_ZLIB_HEADER /usr/${triple}/include/zlib.h CACHE FILEPATH
    "zlib.h of mingw-w64's zlib, which the stub links")
# What is missing, with the Debian package that brings it.
set(stub_missing)
if(NOT EXISTS "${KV_MINGW_CXX}")
  list(APPEND stub_missing "${triple}-g++-posix (g++-mingw-w64-i686-posix)")
endif()
if(NOT EXISTS "${KV_MINGW_WINDRES}")
  list(APPEND stub_missing "${triple}-windres (binutils-mingw-w64-i686)")
endif()
if(NOT EXISTS "${KV_MINGW_ZLIB_HEADER}")
  list(APPEND stub_missing "${KV_MINGW_ZLIB_HEADER} (libz-mingw-w64-dev)")
endif()
set(stub_default ON)
if(stub_missing)
  set(stub_default OFF)
endif()
option(KV_BUILD_STUB "Build the updater stub and wait.exe for zlbtool's package (needs mingw-w64)"
       ${stub_default})

if(stub_missing)
  list(JOIN stub_missing ", " stub_missing)
  set(stub_absent "the updater stub cannot be built: mingw-w64 lacks ${stub_missing}; "
                  "scripts/setup installs it")
elseif(NOT KV_BUILD_STUB)
  set(stub_absent "the updater stub is not built here: KV_BUILD_STUB is OFF")
endif()
if(DEFINED stub_absent)
  string(JOIN "" stub_absent ${stub_absent})
  if(KV_BUILD_STUB)
    message(FATAL_ERROR "KV_BUILD_STUB: ${stub_absent}")
  endif()
  message(STATUS "No updater stub in zlbtool's package: ${stub_absent}")
  # The documented target stays, and says why there is no stub.
  add_custom_target(stub_build
    COMMAND ${CMAKE_COMMAND} -E echo "stub_build: ${stub_absent}"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  return()
endif()

set(stub_dir ${CMAKE_BINARY_DIR}/stub-build)
set(KV_PACKAGED_STUB ${stub_dir}/bin/${KV_STUB_FILE_NAME})
set(KV_PACKAGED_WAIT ${stub_dir}/bin/${KV_PAYLOAD_WAIT_PROGRAM})
ExternalProject_Add(stub_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${stub_dir}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    -DCMAKE_BUILD_TYPE=Release
    -DKV_STUB_ONLY=ON
    -DKV_WERROR=${KV_WERROR}
  # Its default build is the stub and wait.exe alone (KV_STUB_ONLY), made
  # with this build's make and its jobs.
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KV_PACKAGED_STUB} ${KV_PACKAGED_WAIT}
  USES_TERMINAL_BUILD OFF)
# As for the host tools (cmake/HostTools.cmake): the nested build runs again
# only when what it reads changed.
file(GLOB_RECURSE stub_inputs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/archive/*
  ${PROJECT_SOURCE_DIR}/platform/*
  ${PROJECT_SOURCE_DIR}/updater/*
  ${PROJECT_SOURCE_DIR}/wait/*)
file(GLOB stub_top_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/*)
list(APPEND stub_inputs ${stub_top_inputs} ${PROJECT_SOURCE_DIR}/CMakeLists.txt)
ExternalProject_Add_Step(stub_build inputs
  COMMENT "Updater stub and wait.exe: sources changed"
  DEPENDEES configure
  DEPENDERS build
  DEPENDS ${stub_inputs})
