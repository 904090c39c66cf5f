# Warning flags for the project's own targets (not for third-party code
# built in the tree): link kv_warnings.
add_library(kv_warnings INTERFACE)
target_compile_options(kv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  # GCC 12 reports false overlaps in libstdc++'s string concatenation.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
  $<$<BOOL:${KV_WERROR}>:-Werror>)
