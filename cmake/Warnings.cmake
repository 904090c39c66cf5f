# Warning flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(KV_WERROR)
  add_compile_options(-Werror)
endif()
