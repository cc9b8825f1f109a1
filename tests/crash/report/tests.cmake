# The portable core of crash reporting.
qex_add_native_test(crash_report_core_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/BugReportFileTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CallStackTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FieldListTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HeaderFieldsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PathTextTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReportTextTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SettingsTest.cpp
  LIBS qex_crash_report_core)
target_compile_definitions(crash_report_core_test PRIVATE
  QEX_REPORT_SETTINGS_FILE="${QEX_REPORT_SETTINGS_FILE}")

qex_add_fuzzer(crash_report_file_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BugReportFileFuzzer.cpp
  LIBS qex_crash_report_core)
if(TARGET crash_report_file_fuzzer)
  target_include_directories(crash_report_file_fuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
