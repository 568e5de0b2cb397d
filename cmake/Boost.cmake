# Boost is used header-only. The Windows build must not see /usr/include (glibc's headers
# break <windows.h>), so it gets a folder that holds nothing but a link to Boost.
find_path(PEZ_BOOST_ROOT boost/version.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(WIN32)
  set(PEZ_BOOST_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
  file(MAKE_DIRECTORY ${PEZ_BOOST_INCLUDE})
  file(CREATE_LINK ${PEZ_BOOST_ROOT}/boost ${PEZ_BOOST_INCLUDE}/boost SYMBOLIC)
else()
  set(PEZ_BOOST_INCLUDE ${PEZ_BOOST_ROOT})
endif()
add_library(pez_boost INTERFACE)
target_include_directories(pez_boost SYSTEM INTERFACE ${PEZ_BOOST_INCLUDE})
