# The link to the live host end to end. The agent always dials port 18884,
# so no two tests that start it may run at once.
qex_add_wine_test(link_e2e_test E2E
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_e2e_win.cpp
  ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>"
  TIMEOUT 600)
if(TARGET link_e2e_test)
  add_dependencies(link_e2e_test QEXJoystick)
  set_tests_properties(link_e2e_test PROPERTIES RESOURCE_LOCK qex_agent_port_18884)
endif()
