# SPDX-License-Identifier: Apache-2.0
cmake_minimum_required(VERSION 3.25)
# Fails when a folder includes a header from a layer above it. Run as
#   cmake -DROOT=<source dir> -P check_layering.cmake
# Each rule names a folder and the project folders its files may include; a folder without a
# rule may include anything except the folders that list it as being below them.

# The vocabulary at the bottom may only use what lies under it.
set(allowed_text "text")
set(allowed_protocol "text;protocol")
set(allowed_style "style")
set(allowed_ports "text;protocol;ports")
# Everything below the server: these never reach into server/.
set(below_server
  text protocol style ports platform config ovra packs plugins candidate client frontend net voice
  companion sound shell update service)
# The themes describe the style the window draws with; the window sits above them.
set(forbidden_config "candidate")

set(failures "")
foreach(dir ${below_server})
  if(NOT IS_DIRECTORY ${ROOT}/${dir})
    continue()
  endif()
  file(GLOB_RECURSE sources ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp ${ROOT}/${dir}/*.c)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" top "${header}")
      if(NOT header MATCHES "/")
        continue()  # a header beside the source
      endif()
      file(RELATIVE_PATH where ${ROOT} ${source})
      if(top STREQUAL "server")
        list(APPEND failures "${where}: ${header} (server/ is above ${dir}/)")
      elseif(DEFINED allowed_${dir} AND NOT top IN_LIST allowed_${dir})
        list(APPEND failures "${where}: ${header} (${dir}/ may include only ${allowed_${dir}})")
      elseif(DEFINED forbidden_${dir} AND top IN_LIST forbidden_${dir})
        list(APPEND failures "${where}: ${header} (${top}/ is above ${dir}/)")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes against the layering:\n  ${text}")
endif()
message(STATUS "layering: no folder includes a header from a layer above it")
