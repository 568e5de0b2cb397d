# pez_module(NAME ...): a shipped module with the platform's suffix and no "lib" prefix
# (Quastle.so / Quastle.dll). Windows modules carry their own C++ runtime so that a host
# needs no runtime DLLs of ours; Linux modules find their siblings through $ORIGIN.
function(pez_module name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  else()
    set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
    # clang leaves its sanitizer runtime to the program, so its modules keep those symbols open.
    if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT PEZ_SANITIZE STREQUAL ""))
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()

# pez_executable(NAME ...): a program that runs beside the modules it loads.
function(pez_executable name)
  add_executable(${name} ${ARGN})
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  else()
    set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN")
  endif()
endfunction()
