# The scan cycle end to end: the real vkt binary on an embedded database and on the private PostgreSQL
# server of the database tests, with a mail server, a pop-up listener and a host that drops ICMP; the
# notification mail of an empty Sender, to aiosmtpd and to a strict Postfix.
vkt_add_test(vkt_scan_integration_tests LABELS integration TIMEOUT 180
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_scan.cpp ${CMAKE_CURRENT_LIST_DIR}/it_mail_sender.cpp LIBS vkt_db)
target_compile_definitions(vkt_scan_integration_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_scan_integration_tests vkt)
vkt_add_test(vkt_scan_network_tests LABELS network TIMEOUT 120 LOCK silenthost
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_scan_network.cpp ${CMAKE_CURRENT_LIST_DIR}/it_scan_together.cpp LIBS vkt_db)
target_compile_definitions(vkt_scan_network_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_scan_network_tests vkt)
