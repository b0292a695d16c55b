# Build conventions shared by every subsystem.

set(ORVANE_WARNINGS -Wall -Wextra)
# GCC 12 reports impossible overlaps inside std::string copies at -O3 (its -Wrestrict false positives).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND ORVANE_WARNINGS -Wno-restrict)
endif()
if(ORVANE_WERROR)
  list(APPEND ORVANE_WARNINGS -Werror)
endif()

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVANE_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Every library is instrumented for coverage; only the fuzz targets link the libFuzzer main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# orvane_library(NAME SOURCES ... [DEPS ...]): a static library of the project; the repository root is its
# include root, so public headers are included as "subsystem/header.h".
function(orvane_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# orvane_test(NAME SOURCES ... [DEPS ...] [RESOURCE_LOCK name] [TEST_PREFIX text]): a GoogleTest executable
# registered with CTest. Tests that share a machine-wide resource (a fixed shared-memory name, say) name it as a
# lock, so that CTest never runs two of them at once. A prefix goes before each discovered test's name, so
# `ctest -R` can pick the executable's tests.
function(orvane_test name)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK;TEST_PREFIX" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} orvane_test_support GTest::gmock GTest::gtest_main)
  set(properties TIMEOUT 300)
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_PREFIX "${ARG_TEST_PREFIX}"
    PROPERTIES ${properties})
endfunction()

# orvane_fuzzer(NAME SOURCES ... [DEPS ...]): a libFuzzer target (only with ORVANE_FUZZ).
function(orvane_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  set_property(GLOBAL APPEND PROPERTY ORVANE_FUZZERS ${name})
endfunction()

# orvane_benchmark(NAME SOURCES ... [DEPS ...]): a Google Benchmark executable (only with ORVANE_BENCH).
function(orvane_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt, so subsystems plug in on their own.
function(orvane_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
