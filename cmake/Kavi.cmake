# SPDX-License-Identifier: Apache-2.0
# kavi_library(NAME SOURCES ... [DEPS ...]): a static library of one subsystem.
function(kavi_library name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${K_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${K_DEPS} Threads::Threads)
endfunction()

# kavi_test(NAME SOURCES ... [DEPS ...]): one GoogleTest binary, registered with CTest as one test.
# Keep binaries few and large: one per subsystem.
function(kavi_test name)
  cmake_parse_arguments(K "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${K_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE KAVI_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             KAVI_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT K_TIMEOUT)
    set(K_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${K_TIMEOUT})
endfunction()

# kavi_fuzzer(NAME SOURCES ... [DEPS ...]): a libFuzzer target, built only with KAVI_FUZZ=ON.
function(kavi_fuzzer name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${K_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/bin)
  set_property(GLOBAL APPEND PROPERTY KAVI_FUZZERS ${name})
endfunction()

# kavi_bench(NAME SOURCES ... [DEPS ...]): a Google Benchmark binary.
function(kavi_bench name)
  cmake_parse_arguments(K "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${K_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${K_DEPS} benchmark::benchmark Threads::Threads)
  target_compile_definitions(${name} PRIVATE KAVI_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             KAVI_BINARY_DIR="${CMAKE_BINARY_DIR}")
endfunction()
