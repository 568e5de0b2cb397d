# FlatBuffers for tests, the benchmark and the fuzz seeds only: flatc (a program of the build
# machine) generates C++ from a schema, and the header-only library writes and verifies
# messages. The plug-in reads event messages with its own code and never includes these.
include_guard(GLOBAL)
find_program(PEZ_FLATC flatc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(PEZ_FLATBUFFERS_ROOT flatbuffers/flatbuffers.h PATHS /usr/include
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# The Windows build must not see /usr/include, so it gets a folder with a link to the headers.
set(PEZ_FLATBUFFERS_INCLUDE ${CMAKE_BINARY_DIR}/flatbuffers-include)
file(MAKE_DIRECTORY ${PEZ_FLATBUFFERS_INCLUDE})
file(CREATE_LINK ${PEZ_FLATBUFFERS_ROOT}/flatbuffers ${PEZ_FLATBUFFERS_INCLUDE}/flatbuffers SYMBOLIC)

# pez_flatbuffers(TARGET SCHEMA): an interface library whose users include
# "<schema name>_generated.h". The code is generated at configure time, and again whenever
# the schema changes.
function(pez_flatbuffers target schema)
  if(TARGET ${target})
    return()
  endif()
  get_filename_component(name ${schema} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/flatbuffers-generated/${target})
  file(MAKE_DIRECTORY ${out})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${schema})
  execute_process(COMMAND ${PEZ_FLATC} --cpp -o ${out} ${schema}
                  RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "flatc could not compile ${schema}")
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${out} ${PEZ_FLATBUFFERS_INCLUDE})
endfunction()
