# The report box, the send assistant and mailing: the portable decisions
# natively; the box itself end to end under Wine, driven from outside, with
# a mapi32.dll double and a recording "mailto" handler as the mail client.
qex_add_native_test(crash_box_logic_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BoxLogicTest.cpp
  LIBS qex_crash_box_core)

if(WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/BoxTarget.rc ${CMAKE_CURRENT_BINARY_DIR}/BoxTarget.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/BoxTarget.rc PROPERTIES
    OBJECT_DEPENDS ${QEX_REPORT_SETTINGS_FILE})
  add_executable(crash_box_target ${CMAKE_CURRENT_LIST_DIR}/BoxTarget_win.cpp ${CMAKE_CURRENT_BINARY_DIR}/BoxTarget.rc)
  target_link_libraries(crash_box_target PRIVATE qex_crash_box)
  target_link_options(crash_box_target PRIVATE -municode)

  add_library(crash_box_mapi_double SHARED ${CMAKE_CURRENT_LIST_DIR}/MapiDouble_win.cpp)
  target_include_directories(crash_box_mapi_double PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(crash_box_mapi_double PROPERTIES PREFIX "" OUTPUT_NAME mapi32)
  target_link_options(crash_box_mapi_double PRIVATE -static -Wl,--kill-at)

  add_executable(crash_box_mailto_recorder ${CMAKE_CURRENT_LIST_DIR}/MailtoRecorder_win.cpp)
  target_include_directories(crash_box_mailto_recorder PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(crash_box_mailto_recorder PRIVATE shell32)

  add_executable(crash_box_image_editor ${CMAKE_CURRENT_LIST_DIR}/ImageEditor_win.cpp)
  target_include_directories(crash_box_image_editor PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(crash_box_image_editor PRIVATE -municode)

  # The real crash reporter end to end (a C++ exception out of a handler):
  # its mail body carries %appversion%, %modversion% and %os%.
  file(READ ${QEX_REPORT_SETTINGS_FILE} mail_settings)
  string(REPLACE "MailBody = \"please find the bug report attached\""
                 "MailBody = \"app=%appversion% mod=%modversion% os=%os%\"" mail_settings "${mail_settings}")
  if(NOT mail_settings MATCHES "%modversion%")
    message(FATAL_ERROR "tests/crash/box: no MailBody line to replace in ${QEX_REPORT_SETTINGS_FILE}")
  endif()
  set(QEX_MAIL_SETTINGS_FILE ${CMAKE_CURRENT_BINARY_DIR}/mail-settings.txt)
  file(WRITE ${QEX_MAIL_SETTINGS_FILE} "${mail_settings}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QEX_REPORT_SETTINGS_FILE})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/MailTarget.rc ${CMAKE_CURRENT_BINARY_DIR}/MailTarget.rc @ONLY)
  add_executable(crash_box_mail_target WIN32
    ${CMAKE_SOURCE_DIR}/tests/crash/handler/CrashTarget_win.cpp ${CMAKE_CURRENT_BINARY_DIR}/MailTarget.rc)
  target_link_libraries(crash_box_mail_target PRIVATE qex_crash_handler qex_toolkit_win)
  target_link_options(crash_box_mail_target PRIVATE -mwindows)

  qex_add_wine_test(crash_box_test E2E
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReportBoxTest_win.cpp
    LIBS qex_crash_box comctl32
    ENV "QEX_BOX_TARGET_EXE=$<TARGET_FILE:crash_box_target>"
        "QEX_MAPI_DOUBLE_DLL=$<TARGET_FILE:crash_box_mapi_double>"
        "QEX_MAILTO_RECORDER_EXE=$<TARGET_FILE:crash_box_mailto_recorder>"
        "QEX_IMAGE_EDITOR_EXE=$<TARGET_FILE:crash_box_image_editor>"
        "QEX_MAIL_TARGET_EXE=$<TARGET_FILE:crash_box_mail_target>"
        "WINEDLLOVERRIDES=mapi32=n")
  add_dependencies(crash_box_test crash_box_target crash_box_mapi_double crash_box_mailto_recorder
                   crash_box_image_editor crash_box_mail_target)

  # The screenshot decoded by an independent decoder (PIL).
  find_program(QEX_BOX_PIL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(QEX_BOX_PIL_PYTHON)
    add_test(NAME crash_box_screenshot_png
             COMMAND ${QEX_BOX_PIL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_screenshot.py
                     ${CMAKE_SOURCE_DIR}/tests/support/wine-run.sh $<TARGET_FILE:crash_box_target>)
    set_tests_properties(crash_box_screenshot_png PROPERTIES TIMEOUT 180 LABELS wine)
  endif()
endif()
