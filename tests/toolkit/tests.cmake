qex_add_native_test(toolkit_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_description_test.cpp ${CMAKE_CURRENT_LIST_DIR}/delegate_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/description_values_test.cpp
  LIBS qex_toolkit_core)
qex_add_fuzzer(window_description_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_description_fuzz.cpp
  LIBS qex_toolkit_core)
target_compile_definitions(toolkit_core_test PRIVATE QEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
qex_add_wine_test(toolkit_win_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trayicons_win_test.cpp ${CMAKE_CURRENT_LIST_DIR}/windows_win_test.cpp
  LIBS qex_toolkit_win)
