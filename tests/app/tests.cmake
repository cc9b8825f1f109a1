qex_add_native_test(app_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/status_text_test.cpp
  LIBS qex_app_core)

# The link to the live host: wire format and stream receiver.
qex_add_native_test(app_link_protocol_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_protocol_test.cpp
  LIBS qex_app_core)
qex_add_fuzzer(app_link_receiver_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_receiver_fuzzer.cpp
  LIBS qex_app_core)
qex_add_native_test(app_link_send_queue_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_send_queue_test.cpp
  LIBS qex_app_core)
