# GoogleTest from Debian's googletest source package, built for each target
# (the Windows builds cannot use the installed native libraries).
if(QUIB_BUILD_TESTS AND NOT TARGET gtest)
  set(QUIB_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUIB_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# The wait notes every waiting helper of the Windows tests writes and the
# watchdog reads (also linked by the end-to-end driver and the demo).
if(QUIB_BUILD_TESTS AND WIN32 AND NOT TARGET quib_test_waits)
  add_library(quib_test_waits STATIC ${PROJECT_SOURCE_DIR}/tests/win/support/wait_note.cpp)
  target_include_directories(quib_test_waits PUBLIC ${PROJECT_SOURCE_DIR})
endif()

# quib_add_test(NAME name SOURCES ... LIBS ...): one test program, one ctest entry.
# Windows test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR,
# each under the per-test watchdog (tests/win/support/watchdog.h). TIMEOUT is
# only the last backstop: the watchdog reports a hung test long before it.
function(quib_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/gtest_main_win.cpp
                                      ${PROJECT_SOURCE_DIR}/tests/win/support/watchdog.cpp)
    target_link_libraries(${T_NAME} PRIVATE quib_test_waits quib_adapters gdiplus gdi32 user32)
  else()
    target_link_libraries(${T_NAME} PRIVATE gtest_main)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  # The backstop must leave the watchdog time for a hung test: its bound
  # (120 s), the grace time (30 s) and a new child for the remaining tests.
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
