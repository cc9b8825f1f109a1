# Mailing a bug report: address check, mailto route, MAPI data, screenshot PNG.
qex_add_native_test(crash_mail_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/EmailAddressTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MailtoTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MailRequestTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PaletteTest.cpp
  LIBS qex_crash_mail_core)

# The screenshot files decoded by an independent decoder (PIL), natively.
if(NOT WIN32)
  # Debian's interpreter first: python3-pil installs for it, not for others on PATH.
  find_program(QEX_PIL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(QEX_PIL_PYTHON NAMES python3)
  add_executable(crash_mail_png_fixture ${CMAKE_CURRENT_LIST_DIR}/png_fixture.cpp)
  target_include_directories(crash_mail_png_fixture PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(crash_mail_png_fixture PRIVATE qex_crash_mail_core)
  if(QEX_PIL_PYTHON)
    add_test(NAME crash_mail_png_decodes
             COMMAND ${QEX_PIL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_png.py $<TARGET_FILE:crash_mail_png_fixture>)
    set_tests_properties(crash_mail_png_decodes PROPERTIES TIMEOUT 120)
  endif()
endif()

qex_add_fuzzer(crash_mail_handler_command_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HandlerCommandFuzzer.cpp
  LIBS qex_crash_mail_core)
if(TARGET crash_mail_handler_command_fuzzer)
  target_include_directories(crash_mail_handler_command_fuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests)
endif()
