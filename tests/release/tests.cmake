# The programs as they ship: size, stripping and static linking of the agent,
# and the installer's round trip under Wine.
if(WIN32)
  include(QexSymbols)
  add_test(NAME release_shipped_test
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/shipped_check.py
            --exe $<TARGET_FILE:QEXJoystick> --objdump ${CMAKE_OBJDUMP} --symtab ${QEX_SYMTAB_SCRIPT})
  set_tests_properties(release_shipped_test PROPERTIES TIMEOUT 120)

  qex_add_wine_test(release_installer_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/installer_win_test.cpp
    LIBS ole32 uuid shell32
    # No menu entries of the host desktop for the test's shortcut.
    ENV "QEX_INSTALLER_EXE=${CMAKE_BINARY_DIR}/QEXJoystick-setup.exe;QEX_AGENT_EXE=$<TARGET_FILE:QEXJoystick>;WINEDLLOVERRIDES=winemenubuilder.exe=d"
    TIMEOUT 600)
  add_dependencies(release_installer_test qex_installer QEXJoystick)
endif()
