# The agent's raising paths reaching crash reporting, end to end. The agent
# dials port 18884 and shares the registry settings with the other agent
# tests, so it takes their lock.
qex_add_wine_test(crash_agent_e2e_test E2E
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_agent_e2e_win.cpp
  ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>" "QEX_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  TIMEOUT 300)
if(TARGET crash_agent_e2e_test)
  add_dependencies(crash_agent_e2e_test QEXJoystick)
  set_tests_properties(crash_agent_e2e_test PROPERTIES RESOURCE_LOCK qex_agent_port_18884)
endif()
