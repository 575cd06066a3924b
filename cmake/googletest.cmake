# GoogleTest from Debian's sources (/usr/src/googletest), built once per tree.
if(NOT TARGET gtest)
  # Windows builds thread through Win32 (GoogleTest's own Windows mutex).
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  else()
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its Windows pieces the win32-thread runtime lacks (tests/support/gtest_port).
  target_include_directories(gtest BEFORE PUBLIC ${PROJECT_SOURCE_DIR}/tests/support/gtest_port)
endif()
include(GoogleTest)

# How CTest runs a test program: 0 lists each of its cases as a CTest test of
# its own, run in a process of its own (what a developer picking tests wants);
# N runs the program as N times its SHARDS CTest tests, each one process
# running its share of the cases (GoogleTest's sharding). A slow lane pays
# mostly for starting processes, so whole runs shard.
set(LAUNCHER_TEST_SHARDS 0 CACHE STRING "Processes per test program and its weight (0: one per test case)")
# Each shard's report of its cases (tools/lane_counts.py counts them); a
# program under Wine reaches the build folder through drive Z:.
set(LAUNCHER_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
set(test_results_seen_by_tests ${LAUNCHER_TEST_RESULTS})
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(test_results_seen_by_tests Z:${LAUNCHER_TEST_RESULTS})
endif()

# add_gtest_program(TARGET [TIMEOUT SECONDS] [SHARDS N] [WORKING_DIRECTORY DIR]
#                   [ENVIRONMENT VAR=VALUE...] [PROPERTIES NAME VALUE...])
# Registers a GoogleTest program with CTest as LAUNCHER_TEST_SHARDS says.
# TIMEOUT (default 180) bounds each case: CTest's limit of a case run alone,
# else the program's own watchdog (tests/support/test_main.cpp) in a shard.
# SHARDS (default 1), the program's weight, is how many processes it takes
# at LAUNCHER_TEST_SHARDS=1: more for a program of many long cases, so that
# no shard outlasts the rest of the lane.
# Every limit is multiplied by LAUNCHER_TEST_TIME_SCALE, and every test asks
# for the resources of LAUNCHER_TEST_RESOURCE_GROUPS (a lane's settings).
function(add_gtest_program target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "TIMEOUT;SHARDS;WORKING_DIRECTORY" "ENVIRONMENT;PROPERTIES")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 180)
  endif()
  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 1)
  endif()
  if(NOT ARG_WORKING_DIRECTORY)
    set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(scale 1)
  if(LAUNCHER_TEST_TIME_SCALE)
    set(scale ${LAUNCHER_TEST_TIME_SCALE})
  endif()
  set(properties ${ARG_PROPERTIES})
  if(NOT "${LAUNCHER_TEST_RESOURCE_GROUPS}" STREQUAL "")
    list(APPEND properties RESOURCE_GROUPS ${LAUNCHER_TEST_RESOURCE_GROUPS})
  endif()
  math(EXPR case_timeout "${ARG_TIMEOUT} * ${scale}")

  if(NOT LAUNCHER_TEST_SHARDS)
    math(EXPR discovery_timeout "60 * ${scale}")
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT ${discovery_timeout}
      WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY}
      PROPERTIES TIMEOUT ${case_timeout} ${properties} ENVIRONMENT "${ARG_ENVIRONMENT}")
    return()
  endif()

  math(EXPR shards "${LAUNCHER_TEST_SHARDS} * ${ARG_SHARDS}")
  math(EXPR last "${shards} - 1")
  # A shard's own limit only backs up the watchdog, which ends the shard at
  # its first case over TIMEOUT.
  math(EXPR shard_timeout "3600 * ${scale}")
  foreach(index RANGE ${last})
    math(EXPR number "${index} + 1")
    set(name ${target}.shard${number}of${shards})
    add_test(NAME ${name} COMMAND ${target} WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${shard_timeout} ${properties}
      ENVIRONMENT "${ARG_ENVIRONMENT};GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${index};LAUNCHER_TEST_CASE_TIMEOUT=${ARG_TIMEOUT};GTEST_OUTPUT=xml:${test_results_seen_by_tests}/${name}.xml")
  endforeach()
endfunction()
