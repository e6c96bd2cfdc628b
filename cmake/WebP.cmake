# libwebp for the engine, with its mux library for metadata chunks, as one target: Vorandel::WebP.
# Cross build: Debian 12's libwebp source package (scripts/fetch-sources.sh puts it in .deps/),
# compiled with our toolchain and linked statically. Elsewhere: an installed libwebp's CMake
# package, such as vcpkg's "WebP".
set(VORANDEL_WEBP_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/libwebp" CACHE PATH "libwebp source tree")

add_library(vorandel_webp INTERFACE)
add_library(Vorandel::WebP ALIAS vorandel_webp)

# A function, so that the settings below stay within libwebp's own directory.
function(vorandel_add_libwebp source_dir)
  # libwebp's tools, extras and GUI viewers are not wanted; its options predate CMP0077,
  # so they are set in the cache.
  foreach(_opt ANIM_UTILS CWEBP DWEBP GIF2WEBP IMG2WEBP VWEBP WEBPINFO WEBPMUX EXTRAS WEBP_JS)
    set(WEBP_BUILD_${_opt} OFF CACHE BOOL "" FORCE)
  endforeach()
  set(WEBP_BUILD_LIBWEBPMUX ON CACHE BOOL "" FORCE)
  set(WEBP_LINK_STATIC ON CACHE BOOL "" FORCE)
  # Encoding runs single-threaded: a second thread (thread_level) made a photo 1 % faster, and
  # a picture with alpha 400 MB larger at its peak, its alpha encoded beside the rest.
  set(WEBP_USE_THREAD OFF CACHE BOOL "" FORCE)
  set(BUILD_SHARED_LIBS OFF)

  add_subdirectory("${source_dir}" "${CMAKE_BINARY_DIR}/_deps/libwebp" EXCLUDE_FROM_ALL)

  # Third-party code: its warnings are not ours to read (our flags include -Wextra -Wshadow).
  foreach(_target sharpyuv webpdecode webpdspdecode webputilsdecode webpdecoder webpencode
                  webpdsp webputils webp webpdemux libwebpmux)
    if(TARGET ${_target})
      target_compile_options(${_target} PRIVATE $<IF:$<C_COMPILER_ID:MSVC>,/w,-w>)
    endif()
  endforeach()

  # Consumers see libwebp's headers as system headers (-isystem).
  get_target_property(_includes webp INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(webp PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${_includes}")
endfunction()

if(EXISTS "${VORANDEL_WEBP_SOURCE_DIR}/CMakeLists.txt")
  get_filename_component(_webp_source "${VORANDEL_WEBP_SOURCE_DIR}" REALPATH)
  vorandel_add_libwebp("${_webp_source}")
  target_link_libraries(vorandel_webp INTERFACE libwebpmux webpdemux webp)
  message(STATUS "libwebp: building from ${_webp_source}")
else()
  find_package(WebP CONFIG QUIET)
  if(NOT WebP_FOUND)
    message(FATAL_ERROR
      "libwebp not found. Cross build: run scripts/fetch-libwebp.sh (or set "
      "VORANDEL_WEBP_SOURCE_DIR to a libwebp source tree). Windows: install vcpkg's "
      "'libwebp' and configure with its toolchain file.")
  endif()
  target_link_libraries(vorandel_webp INTERFACE WebP::libwebpmux WebP::webpdemux WebP::webp)
endif()
