# The console bridge end to end: the unmodified agent with the simulated
# console on the platform's own HID stack (our minidriver, tools/simhid).
# The driver is shown working in 64-bit prefixes only so far: the test runs
# on the 64-bit build, whatever the release target.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  qex_add_wine_test(console_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_e2e_win.cpp
    LIBS qex_simhid ws2_32
    ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>;QEX_SIMHID_SYS=${QEX_SIMHID_SYS}"
    TIMEOUT 1200)
  if(TARGET console_e2e_test)
    add_dependencies(console_e2e_test QEXJoystick qexsimhid_driver)
    # Not while the HID library doubles stand in the system folder.
    set_tests_properties(console_e2e_test PROPERTIES RESOURCE_LOCK "simhid;simconsole;port18884"
                         DEPENDS simconsole_uninstall)
  endif()
endif()

# Whole messages through a live host that reads slowly or not at all, with
# the same console.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  qex_add_wine_test(link_flow_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_flow_e2e_win.cpp
    LIBS qex_simhid ws2_32
    ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>;QEX_SIMHID_SYS=${QEX_SIMHID_SYS}"
    TIMEOUT 900)
  if(TARGET link_flow_e2e_test)
    add_dependencies(link_flow_e2e_test QEXJoystick qexsimhid_driver)
    set_tests_properties(link_flow_e2e_test PROPERTIES
      RESOURCE_LOCK "simhid;simconsole;port18884;qex_agent_port_18884" DEPENDS simconsole_uninstall)
  endif()
endif()
