# Crash reporting's interception and hand-off: the fault mapping natively,
# the rest end to end with a target program driven from outside under Wine.
qex_add_native_test(crash_handler_faults_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HardwareFaultsTest.cpp
  LIBS qex_crash_handler_core)

qex_add_native_test(crash_handler_filters_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReportFiltersTest.cpp
  LIBS qex_crash_handler_core)
target_compile_definitions(crash_handler_filters_test PRIVATE
  QEX_REPORT_SETTINGS_FILE="${QEX_REPORT_SETTINGS_FILE}")

if(WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/CrashTarget.rc ${CMAKE_CURRENT_BINARY_DIR}/CrashTarget.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/CrashTarget.rc PROPERTIES
    OBJECT_DEPENDS ${QEX_REPORT_SETTINGS_FILE})
  add_executable(crash_handler_target WIN32
    ${CMAKE_CURRENT_LIST_DIR}/CrashTarget_win.cpp ${CMAKE_CURRENT_BINARY_DIR}/CrashTarget.rc)
  target_link_libraries(crash_handler_target PRIVATE qex_crash_handler qex_toolkit_win)
  target_link_options(crash_handler_target PRIVATE -mwindows)
  # Function names in the call stacks of its bug reports.
  include(QexSymbols)
  qex_embed_symbols(crash_handler_target SIZE 1048576 STRIP)

  qex_add_wine_test(crash_handler_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/CrashHandlerTest_win.cpp
    LIBS qex_crash_handler_core
    ENV "QEX_CRASH_TARGET_EXE=$<TARGET_FILE:crash_handler_target>"
        "QEX_CRASH_TARGET_SOURCE=${CMAKE_CURRENT_LIST_DIR}/CrashTarget_win.cpp")
  add_dependencies(crash_handler_test crash_handler_target)
endif()
