# GoogleTest from source, built with the same toolchain as the program.
# Debian's googletest package installs the sources in /usr/src/googletest.
set(VORANDEL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(NOT EXISTS "${VORANDEL_GTEST_SOURCE_DIR}/CMakeLists.txt")
  find_package(GTest CONFIG REQUIRED)
  return()
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory("${VORANDEL_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL)
# Consumers see GoogleTest's headers as system headers (-isystem): its warnings are not ours.
get_target_property(_gtest_includes gtest INTERFACE_INCLUDE_DIRECTORIES)
set_target_properties(gtest PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${_gtest_includes}")
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
endif()
