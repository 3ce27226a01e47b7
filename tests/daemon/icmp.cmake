# Probe tests against network namespaces made by the tests (root only; they skip otherwise).
vkt_add_test(vkt_daemon_icmp_network_tests LABELS network TIMEOUT 150
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/icmp_network_test.cpp LIBS vkt_daemon)
