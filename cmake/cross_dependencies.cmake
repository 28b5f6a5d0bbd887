# Dependencies of a cross build for Windows. The header-only libraries come
# from the build machine's Debian packages (their headers hold nothing
# specific to the machine), seen through a folder of their own so that the
# build machine's system headers stay out of the cross compiler's view.
# GoogleTest is built from the sources Debian ships in /usr/src/googletest.
set(_headers ${CMAKE_BINARY_DIR}/cross-headers)
file(MAKE_DIRECTORY ${_headers})
foreach(dir nlohmann toml++ CLI)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "cross build: /usr/include/${dir} is missing; run scripts/setup.sh")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${_headers}/${dir} SYMBOLIC)
endforeach()

add_library(quarn_cross_headers INTERFACE)
target_include_directories(quarn_cross_headers SYSTEM INTERFACE ${_headers})
add_library(nlohmann_json::nlohmann_json ALIAS quarn_cross_headers)
add_library(tomlplusplus::tomlplusplus ALIAS quarn_cross_headers)
add_library(CLI11::CLI11 ALIAS quarn_cross_headers)

if(QUARN_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  # Its own CMake files name the targets GTest::gtest and GTest::gmock, as
  # the installed package does.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
