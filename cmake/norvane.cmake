# Shared build settings and helpers for every component.

option(NORVANE_FUZZ "Build the libFuzzer targets (clang only)" OFF)
set(NORVANE_SANITIZE "" CACHE STRING "Comma-separated sanitizers, e.g. address,undefined")
set(NORVANE_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in the test pass")

add_compile_options(-Wall -Wextra)

if(NORVANE_SANITIZE)
  add_compile_options(-fsanitize=${NORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NORVANE_SANITIZE})
endif()

if(NORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "NORVANE_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  # Instrument everything for coverage; only the fuzz targets link the libFuzzer driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(fuzzers)
endif()

find_package(GTest QUIET)
find_package(Threads REQUIRED)

# iniparser from Debian (libiniparser-dev): headers under include/iniparser.
find_path(INIPARSER_INCLUDE_DIR iniparser.h PATH_SUFFIXES iniparser REQUIRED)
find_library(INIPARSER_LIBRARY iniparser REQUIRED)
add_library(iniparser::iniparser UNKNOWN IMPORTED)
set_target_properties(iniparser::iniparser PROPERTIES
  IMPORTED_LOCATION ${INIPARSER_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${INIPARSER_INCLUDE_DIR})

# norvane_add_test(NAME SOURCES... LIBS ...): one GoogleTest binary run by CTest.
function(norvane_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NORVANE_FUZZ)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    NORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" NORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "unit;${T_LABELS}" TIMEOUT 600)
endfunction()

# norvane_add_fuzzer(NAME SOURCES... LIBS ...): a libFuzzer target with its corpus under
# tests/fuzz/corpus/NAME; in fuzz builds it is also a CTest test running a short pass.
function(norvane_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT NORVANE_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})
  set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set(work ${PROJECT_BINARY_DIR}/fuzz-work/${name})
  # The kept corpus is only read here; new finds go to a scratch directory of the build.
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
            sh -c "mkdir -p '${work}' && exec '$<TARGET_FILE:${name}>' -max_total_time=${NORVANE_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 '${work}' '${corpus}'")
  set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 900)
endfunction()
