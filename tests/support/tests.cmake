qex_add_native_test(support_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hex_test.cpp ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
  LIBS qex_support_core)
qex_add_wine_test(support_win_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/utils_win_test.cpp ${CMAKE_CURRENT_LIST_DIR}/trayicons_win_test.cpp
  LIBS qex_support_win
  ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>")
