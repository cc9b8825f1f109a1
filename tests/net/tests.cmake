# The TCP client under Wine against real loopback peers in the test program.
qex_add_native_test(net_socket_types_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/socket_types_test.cpp
  LIBS qex_net_core)
qex_add_wine_test(net_client_socket_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_socket_win_test.cpp
  LIBS qex_net_win qex_toolkit_win
  TIMEOUT 120)
