# Forged echo replies against both probes, and first identifiers and sequences of two start-ups
# (network namespaces made by the tests, on addresses of their own; root only, they skip otherwise).
vkt_add_test(vkt_daemon_echo_forgery_tests LABELS network TIMEOUT 60
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/echo_forgery_test.cpp LIBS vkt_daemon)
