qex_add_native_test(support_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hex_test.cpp ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/trace_queue_test.cpp
  LIBS qex_support_core)
qex_add_wine_test(support_win_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/utils_win_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/debugs_win_test.cpp
  LIBS qex_support_win
  ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>;QEX_TRACE_BURST_EXE=$<TARGET_FILE:trace_burst>")
if(TARGET support_win_test)
  add_executable(trace_burst ${CMAKE_CURRENT_LIST_DIR}/TraceBurst_win.cpp)
  target_link_libraries(trace_burst PRIVATE qex_support_win)
  add_dependencies(support_win_test trace_burst)
endif()
