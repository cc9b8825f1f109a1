qex_add_native_test(app_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/status_text_test.cpp
  LIBS qex_app_core)
