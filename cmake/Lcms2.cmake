# Little CMS 2 for the engine, as one target: Vorandel::Lcms2 (colours into sRGB for formats
# that cannot hold a profile). Cross build: Debian 12's lcms2 source package
# (scripts/fetch-sources.sh puts it in .deps/), compiled with our toolchain; its build system
# is autotools, so the sources are listed here. Elsewhere: an installed lcms2, such as
# vcpkg's.
set(VORANDEL_LCMS2_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/lcms2" CACHE PATH "Little CMS 2 source tree")

add_library(vorandel_lcms2 INTERFACE)
add_library(Vorandel::Lcms2 ALIAS vorandel_lcms2)

if(EXISTS "${VORANDEL_LCMS2_SOURCE_DIR}/include/lcms2.h")
  get_filename_component(_lcms2 "${VORANDEL_LCMS2_SOURCE_DIR}" REALPATH)
  file(GLOB _lcms2_sources "${_lcms2}/src/*.c")
  add_library(vorandel_lcms2_static STATIC ${_lcms2_sources})
  target_include_directories(vorandel_lcms2_static SYSTEM PUBLIC "${_lcms2}/include")
  # C++17 has no "register", which the header would otherwise use.
  target_compile_definitions(vorandel_lcms2_static PUBLIC CMS_NO_REGISTER_KEYWORD)
  target_compile_options(vorandel_lcms2_static PRIVATE $<IF:$<C_COMPILER_ID:MSVC>,/w,-w>)
  target_link_libraries(vorandel_lcms2 INTERFACE vorandel_lcms2_static)
  message(STATUS "Little CMS 2: building from ${_lcms2}")
else()
  find_package(lcms2 CONFIG QUIET)
  if(NOT lcms2_FOUND)
    message(FATAL_ERROR
      "Little CMS 2 not found. Cross build: run scripts/fetch-sources.sh (or set "
      "VORANDEL_LCMS2_SOURCE_DIR to an lcms2 source tree). Windows: install vcpkg's 'lcms' "
      "and configure with its toolchain file.")
  endif()
  target_link_libraries(vorandel_lcms2 INTERFACE lcms2::lcms2)
endif()
