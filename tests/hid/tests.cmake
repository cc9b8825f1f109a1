qex_add_native_test(hid_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PnPBuffersTest.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceListDiffTest.cpp
  LIBS qex_hid_core)
qex_add_fuzzer(hid_pnp_buffers_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PnPBuffersFuzzer.cpp
  LIBS qex_hid_core)

if(WIN32)
  # Installs the simulated HID.dll and SetupApi.dll into the prefix's system
  # folder; every test that loads them needs it and runs alone (one device
  # table per prefix).
  add_test(NAME simconsole_install COMMAND simconsole install)
  set_tests_properties(simconsole_install PROPERTIES FIXTURES_SETUP simconsole RESOURCE_LOCK simconsole)
  # The platform's own libraries come back for the tests on the real stack.
  add_test(NAME simconsole_uninstall COMMAND simconsole uninstall)
  set_tests_properties(simconsole_uninstall PROPERTIES FIXTURES_CLEANUP simconsole RESOURCE_LOCK simconsole)

  # What only the doubles can show: a library lacking a bound name, and no
  # library at all.
  qex_add_wine_test(hid_bindings_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/HidBindingsTest_win.cpp
    LIBS qex_hid qex_simconsole
    TIMEOUT 120)
  set_tests_properties(hid_bindings_test PROPERTIES
    ENVIRONMENT "WINEDLLOVERRIDES=hid,setupapi=n;GTEST_FILTER=HidBindings.*"
    FIXTURES_REQUIRED simconsole RESOURCE_LOCK simconsole)
  add_test(NAME hid_controller_inert_test COMMAND hid_bindings_test --gtest_filter=HidInert.*)
  set_tests_properties(hid_controller_inert_test PROPERTIES
    ENVIRONMENT "WINEDLLOVERRIDES=setupapi=d"
    FIXTURES_REQUIRED simconsole RESOURCE_LOCK simconsole TIMEOUT 120 LABELS wine)
  add_test(NAME hid_real_libraries_test COMMAND hid_bindings_test --gtest_filter=HidRealLibraries.*)
  set_tests_properties(hid_real_libraries_test PROPERTIES
    ENVIRONMENT "WINEDLLOVERRIDES=hid,setupapi=b" TIMEOUT 120 LABELS wine)

  # The controller on the platform's own HID stack with our minidriver
  # (tools/simhid), shown working in 64-bit prefixes only so far. Not while
  # the doubles stand in the system folder.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    qex_add_wine_test(hid_controller_test
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/HidControllerTest_win.cpp
      LIBS qex_hid qex_simhid
      ENV "QEX_SIMHID_SYS=${QEX_SIMHID_SYS}"
      TIMEOUT 900)
    add_dependencies(hid_controller_test qexsimhid_driver)
    set_tests_properties(hid_controller_test PROPERTIES RESOURCE_LOCK "simhid;simconsole" DEPENDS simconsole_uninstall)
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/../e2e/console.cmake)
