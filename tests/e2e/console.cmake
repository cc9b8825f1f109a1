# The unmodified agent with the simulated console on the platform's own HID
# stack (our minidriver, tools/simhid). The driver is shown working in
# 64-bit prefixes only so far: these tests run on the 64-bit build, whatever
# the release target.
#   qex_add_simhid_e2e_test(name source timeout [extra resource locks...])
function(qex_add_simhid_e2e_test name source timeout)
  qex_add_wine_test(${name}
    SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${source}
    LIBS qex_simhid ws2_32
    ENV "QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>;QEX_SIMHID_SYS=${QEX_SIMHID_SYS}"
    TIMEOUT ${timeout})
  add_dependencies(${name} QEXJoystick qexsimhid_driver)
  # Not while the HID library doubles stand in the system folder.
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "simhid;simconsole;port18884;${ARGN}"
                       DEPENDS simconsole_uninstall)
endfunction()

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  # The console bridge.
  qex_add_simhid_e2e_test(console_e2e_test console_e2e_win.cpp 1200)
  # Whole messages through a live host that reads slowly or not at all.
  qex_add_simhid_e2e_test(link_flow_e2e_test link_flow_e2e_win.cpp 900 qex_agent_port_18884)
endif()
