# Compiler flags shared by every target: strict warnings, and the sanitizer of the preset.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align)
if(PEZ_WERROR)
  add_compile_options(-Werror)
endif()

if(PEZ_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(PEZ_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(PEZ_SANITIZE STREQUAL "fuzzer")
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT PEZ_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PEZ_SANITIZE must be address, thread, fuzzer or empty, not '${PEZ_SANITIZE}'")
endif()
