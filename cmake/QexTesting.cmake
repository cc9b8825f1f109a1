# Test helpers shared by every folder under tests/.
#
#   qex_add_native_test(name SOURCES ... [LIBS ...])
#       A portable GoogleTest program: runs natively (under the sanitizers)
#       and, in the Windows builds, under Wine as well.
#   qex_add_wine_test(name [E2E] [AGENT] SOURCES ... [LIBS ...] [ENV ...] [LOCKS ...])
#       A GoogleTest program of the Win32 edge: Windows builds only, run
#       under Wine in the build tree's own prefix. E2E marks a test of the
#       program's behaviour that does not depend on the pointer size (label
#       e2e): the test command runs those on one Windows target only. AGENT
#       marks a test that starts the agent: it takes the agent's lock.
#
# Resource locks: a test that uses a fixed port or a shared device takes the
# lock of that resource, so that ctest -j never runs two such tests at once.
#   ${QEX_AGENT_LOCK}  127.0.0.1:18884, the port the agent dials, and the
#                      agent's registry settings
#   simconsole         the HID library doubles in the prefix's system folder
#   simhid             the simulated console's driver in the prefix
#   service_ports      the fixed ports of the platform's service table a test
#                      listens on
#   qex_add_fuzzer(name SOURCES ... [LIBS ...])
#       A libFuzzer target (native clang builds only), run for
#       QEX_FUZZ_SECONDS by the test command, starting from the committed
#       corpus tests/fuzz/corpus/<name> (scripts/fuzz.sh grows and minimises
#       it; a target without that folder is a configure error).

set(QEX_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT TARGET gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QEX_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

set(QEX_AGENT_LOCK port18884)

function(_qex_test_target name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

function(qex_add_native_test name)
  _qex_test_target(${name} ${ARGN})
  target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/GTestMain.cpp)
endfunction()

function(qex_add_wine_test name)
  cmake_parse_arguments(W "E2E;AGENT" "" "" ${ARGN})
  if(WIN32)
    set(locks)
    if(W_AGENT)
      set(locks LOCKS ${QEX_AGENT_LOCK})
    endif()
    _qex_test_target(${name} ${W_UNPARSED_ARGUMENTS} ${locks})
    if(W_AGENT)
      add_dependencies(${name} QEXJoystick)
    endif()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/GTestMain.cpp)
    target_link_libraries(${name} PRIVATE qex_test_support_win)
    set_property(TEST ${name} APPEND PROPERTY LABELS wine)
    if(W_E2E)
      set_property(TEST ${name} APPEND PROPERTY LABELS e2e)
    endif()
  endif()
endfunction()

function(qex_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    set(seeds ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(NOT IS_DIRECTORY ${seeds})
      message(FATAL_ERROR "fuzz target ${name} has no corpus folder ${seeds}")
    endif()
    file(MAKE_DIRECTORY ${corpus})
    # New inputs go to the build tree's folder; the committed one is only read.
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${QEX_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=0 ${corpus} ${seeds})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endif()
endfunction()
