# SPDX-License-Identifier: Apache-2.0
# Mirrors a source folder into the build tree and, when RELEASE_FILE is given, writes the
# folder's release identity: "<version>+<hash>", where the hash covers every file's relative
# path and contents, so any change of the shipped data yields a new identity.
#
# EXTRA_SOURCE names a second folder (data the build generates) whose files join the source's.
#
# cmake -DSOURCE=<dir> -DDESTINATION=<dir> [-DVERSION=<v> -DRELEASE_FILE=<name>]
#       [-DEXTRA_SOURCE=<dir>] -P StageData.cmake

cmake_policy(SET CMP0057 NEW)

if(NOT SOURCE OR NOT DESTINATION)
  message(FATAL_ERROR "StageData: SOURCE and DESTINATION are required")
endif()

# A folder without a release identity is optional: no source, no staged copy.
if(NOT IS_DIRECTORY "${SOURCE}" AND NOT RELEASE_FILE)
  file(REMOVE_RECURSE "${DESTINATION}")
  return()
endif()
set(files "")
if(IS_DIRECTORY "${SOURCE}")
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${SOURCE}" "${SOURCE}/*")
endif()
set(extra_files "")
if(EXTRA_SOURCE AND IS_DIRECTORY "${EXTRA_SOURCE}")
  file(GLOB_RECURSE extra_files LIST_DIRECTORIES false RELATIVE "${EXTRA_SOURCE}" "${EXTRA_SOURCE}/*")
  list(APPEND files ${extra_files})
  list(REMOVE_DUPLICATES files)
endif()
if(RELEASE_FILE)
  list(REMOVE_ITEM files "${RELEASE_FILE}")
endif()
list(SORT files)

# Files that left the source leave the staged copy too; the release file is rewritten below.
file(MAKE_DIRECTORY "${DESTINATION}")
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE "${DESTINATION}" "${DESTINATION}/*")
foreach(rel IN LISTS staged)
  if(NOT rel IN_LIST files AND NOT rel STREQUAL "${RELEASE_FILE}")
    file(REMOVE "${DESTINATION}/${rel}")
  endif()
endforeach()

set(digest_input "")
foreach(rel IN LISTS files)
  set(from "${SOURCE}/${rel}")
  if(rel IN_LIST extra_files)
    set(from "${EXTRA_SOURCE}/${rel}")
  endif()
  # copy_if_different keeps unchanged files (and their times) as they are.
  get_filename_component(dir "${DESTINATION}/${rel}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${from}" "${DESTINATION}/${rel}"
                  RESULT_VARIABLE copied)
  if(NOT copied EQUAL 0)
    message(FATAL_ERROR "StageData: cannot copy ${from}")
  endif()
  file(SHA256 "${from}" file_hash)
  string(APPEND digest_input "${rel}\n${file_hash}\n")
endforeach()

if(RELEASE_FILE)
  string(SHA256 tree_hash "${digest_input}")
  string(SUBSTRING "${tree_hash}" 0 16 short_hash)
  set(identity "${VERSION}+${short_hash}\n")
  set(release_path "${DESTINATION}/${RELEASE_FILE}")
  set(previous "")
  if(EXISTS "${release_path}")
    file(READ "${release_path}" previous)
  endif()
  if(NOT previous STREQUAL identity)
    file(WRITE "${release_path}.tmp" "${identity}")
    file(RENAME "${release_path}.tmp" "${release_path}")
  endif()
endif()
