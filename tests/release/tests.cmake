# The program as it ships: size, stripping and static linking.
if(WIN32)
  include(QexSymbols)
  add_test(NAME release_shipped_test
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/shipped_check.py
            --exe $<TARGET_FILE:QEXJoystick> --objdump ${CMAKE_OBJDUMP} --symtab ${QEX_SYMTAB_SCRIPT})
  set_tests_properties(release_shipped_test PROPERTIES TIMEOUT 120)

endif()
