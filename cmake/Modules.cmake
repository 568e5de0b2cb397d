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

# pez_link_host_library(TARGET LIBRARY): TARGET calls the host library LIBRARY (Morrick or
# Quastle), so a module or program that links TARGET links LIBRARY too, except a program
# with the property PEZ_LOADS_HOST_LIBRARIES: it loads the libraries itself once they pass
# the trust check and defines the functions it calls (Pellumhost).
function(pez_link_host_library target library)
  target_link_libraries(${target} PUBLIC
    "$<$<NOT:$<BOOL:$<TARGET_PROPERTY:PEZ_LOADS_HOST_LIBRARIES>>>:${library}>")
endfunction()
