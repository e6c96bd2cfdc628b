# Assembles the release folder NAME in STAGE and packs it into ARCHIVE (see Dist.cmake).
if(NOT ZIP)
  message(FATAL_ERROR "zip is not installed (./dev.sh installs it)")
endif()

set(_root "${STAGE}/${NAME}")
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${_root}/licenses" "${_root}/docs")

function(dist_copy from to)
  if(NOT EXISTS "${from}")
    message(FATAL_ERROR "the release needs ${from}")
  endif()
  configure_file("${from}" "${_root}/${to}" COPYONLY)
endfunction()

dist_copy("${EXE}" "Vorandel.exe")
foreach(_doc README.md README.zh-CN.md LICENSE CHANGELOG.md docs/screenshot.png)
  dist_copy("${SOURCE}/${_doc}" "${_doc}")
endforeach()
string(REPLACE "|" ";" _notices "${NOTICES}")
foreach(_notice IN LISTS _notices)
  string(REGEX MATCH "^(.*)=([^=]*)$" _ "${_notice}")
  dist_copy("${CMAKE_MATCH_1}" "licenses/${CMAKE_MATCH_2}")
endforeach()

get_filename_component(_out "${ARCHIVE}" DIRECTORY)
file(MAKE_DIRECTORY "${_out}")
file(REMOVE "${ARCHIVE}")
# -X: no Unix owners or times beyond the standard ones.
execute_process(COMMAND "${ZIP}" -q -X -r "${ARCHIVE}" "${NAME}"
                WORKING_DIRECTORY "${STAGE}" RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "zip failed (${_rc})")
endif()
message(STATUS "release archive: ${ARCHIVE}")
