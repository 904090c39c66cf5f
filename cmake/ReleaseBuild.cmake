# What a shipped build needs beyond the compiler's defaults: small code, no
# debug sections, and the same bytes from every build of one commit, wherever
# the sources and the build tree lie.

# Release code is optimised for size: measured with bench/extract, it
# extracts as fast as at -O3 (the time goes to zlib and to the vector CRC-32).
add_compile_options($<$<CONFIG:Release>:-Os>)

# Link-time optimisation: the compiler sees the whole program, inlines across
# files and keeps only what the program reaches; function sections and
# --gc-sections alone took only 5 KB off KVUpdater.exe.
include(CheckIPOSupported)
check_ipo_supported(RESULT KV_IPO_SUPPORTED LANGUAGES C CXX)
if(KV_IPO_SUPPORTED)
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
  # Also for GoogleTest, built in the tree, which asks for an older CMake.
  set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
  # The whole program in one unit: g++ 12 fails with an internal error on
  # zlbtool.exe when the program is split into partitions.
  add_link_options($<$<AND:$<CONFIG:Release>,$<CXX_COMPILER_ID:GNU>>:-flto-partition=one>)
endif()

# No build path reaches a Release binary (__FILE__, debug information): both
# trees are named relative to themselves.
add_compile_options($<$<CONFIG:Release>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
                    $<$<CONFIG:Release>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)

if(WIN32)
  # Every function and datum in a section of its own, so that the linker
  # drops what nothing references.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections)
  # No link time in the PE header. Release images carry no symbols or debug
  # sections (those of the static runtime included); RelWithDebInfo keeps
  # them for debugging.
  add_link_options(-Wl,--no-insert-timestamp $<$<CONFIG:Release>:-s>)
endif()
