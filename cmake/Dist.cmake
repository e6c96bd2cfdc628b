# The release: dist/vorandel-<version>-win64.zip with the program, the READMEs, the licence,
# the changes, and the licence of every library linked into the .exe. Built by `./dev.sh dist`
# (the target "dist") from the cross build, whose runtime notices come from Debian's packages.
if(NOT MINGW)
  return()
endif()
find_program(VORANDEL_ZIP zip)
set(VORANDEL_DIST_NAME "vorandel-${PROJECT_VERSION}-win64")
set(VORANDEL_DIST_ZIP "${CMAKE_SOURCE_DIR}/dist/${VORANDEL_DIST_NAME}.zip")

# source=name inside licenses/, separated by "|" to pass through one -D argument.
set(_notices
  "${VORANDEL_WEBP_SOURCE_DIR}/COPYING=libwebp-COPYING.txt"
  "${VORANDEL_WEBP_SOURCE_DIR}/PATENTS=libwebp-PATENTS.txt"
  "${VORANDEL_ZLIB_SOURCE_DIR}/LICENSE=zlib-LICENSE.txt"
  "${VORANDEL_LCMS2_SOURCE_DIR}/COPYING=lcms2-COPYING.txt"
  # Linked statically (-static): the mingw-w64 runtime with winpthreads (ZPL and MIT-style
  # terms that ask for their notices), and libstdc++/libgcc under the GCC Runtime Library
  # Exception. Debian's copyright files hold all of their notices.
  "/usr/share/doc/mingw-w64-x86-64-dev/copyright=mingw-w64-runtime.txt"
  "/usr/share/doc/gcc-mingw-w64-base/copyright=gcc-runtime-libraries.txt")
string(JOIN "|" _notices ${_notices})

add_custom_target(dist
  COMMAND ${CMAKE_COMMAND}
    -DZIP=${VORANDEL_ZIP}
    -DNAME=${VORANDEL_DIST_NAME}
    -DARCHIVE=${VORANDEL_DIST_ZIP}
    -DSTAGE=${CMAKE_BINARY_DIR}/dist
    -DSOURCE=${CMAKE_SOURCE_DIR}
    -DEXE=$<TARGET_FILE:Vorandel>
    "-DNOTICES=${_notices}"
    -P ${CMAKE_CURRENT_LIST_DIR}/MakeDist.cmake
  DEPENDS Vorandel
  VERBATIM)
