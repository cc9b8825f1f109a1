qex_add_wine_test(shell_e2e_test E2E
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell_e2e_win.cpp
  ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>"
  TIMEOUT 600)
if(TARGET shell_e2e_test)
  add_dependencies(shell_e2e_test QEXJoystick)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/link_tests.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/crash_agent_tests.cmake)
