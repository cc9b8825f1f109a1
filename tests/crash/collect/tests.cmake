# Building bug reports: the section formats natively; under Wine a program of
# its own raises a C++ exception and an access violation, builds the report
# through the entry points and saves it, driven from outside.
qex_add_native_test(crash_collect_format_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CollectFormatTest.cpp
  LIBS qex_crash_collect_core)

if(WIN32)
  include(QexSymbols)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/CollectTarget.rc ${CMAKE_CURRENT_BINARY_DIR}/CollectTarget.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/CollectTarget.rc PROPERTIES
    OBJECT_DEPENDS ${QEX_REPORT_SETTINGS_FILE})
  add_executable(crash_collect_target
    ${CMAKE_CURRENT_LIST_DIR}/CollectTarget_win.cpp ${CMAKE_CURRENT_BINARY_DIR}/CollectTarget.rc)
  target_link_libraries(crash_collect_target PRIVATE qex_crash_collect qex_crash_handler_core)
  qex_embed_symbols(crash_collect_target SIZE 1048576 STRIP)

  qex_add_wine_test(crash_collect_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/CollectTest_win.cpp
    LIBS qex_crash_report_core
    ENV "QEX_COLLECT_TARGET_EXE=$<TARGET_FILE:crash_collect_target>"
        "QEX_COLLECT_TARGET_SOURCE=${CMAKE_CURRENT_LIST_DIR}/CollectTarget_win.cpp")
  add_dependencies(crash_collect_test crash_collect_target)
endif()
