# zlib for the engine, as one target: Vorandel::Zlib (PNG's compressed chunks).
# Cross build: Debian 12's zlib source package (scripts/fetch-sources.sh puts it in .deps/),
# its library sources compiled with our toolchain. zlib's own CMakeLists is not used: it
# renames zconf.h inside the source tree and always builds a DLL. Elsewhere: an installed
# zlib, such as vcpkg's.
set(VORANDEL_ZLIB_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/zlib" CACHE PATH "zlib source tree")

add_library(vorandel_zlib INTERFACE)
add_library(Vorandel::Zlib ALIAS vorandel_zlib)

if(EXISTS "${VORANDEL_ZLIB_SOURCE_DIR}/zlib.h")
  get_filename_component(_zlib "${VORANDEL_ZLIB_SOURCE_DIR}" REALPATH)
  # The gz* file functions are not wanted: Vorandel's files go through its own layer.
  add_library(vorandel_zlib_static STATIC
    ${_zlib}/adler32.c ${_zlib}/compress.c ${_zlib}/crc32.c ${_zlib}/deflate.c
    ${_zlib}/infback.c ${_zlib}/inffast.c ${_zlib}/inflate.c ${_zlib}/inftrees.c
    ${_zlib}/trees.c ${_zlib}/uncompr.c ${_zlib}/zutil.c)
  target_include_directories(vorandel_zlib_static SYSTEM PUBLIC "${_zlib}")
  target_compile_options(vorandel_zlib_static PRIVATE $<IF:$<C_COMPILER_ID:MSVC>,/w,-w>)
  target_link_libraries(vorandel_zlib INTERFACE vorandel_zlib_static)
  message(STATUS "zlib: building from ${_zlib}")
else()
  find_package(ZLIB QUIET)
  if(NOT ZLIB_FOUND)
    message(FATAL_ERROR
      "zlib not found. Cross build: run scripts/fetch-sources.sh (or set "
      "VORANDEL_ZLIB_SOURCE_DIR to a zlib source tree). Windows: install vcpkg's 'zlib' and "
      "configure with its toolchain file.")
  endif()
  target_link_libraries(vorandel_zlib INTERFACE ZLIB::ZLIB)
endif()
