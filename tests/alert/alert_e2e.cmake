# The alert rules end to end: the real vkt binary, hosts in a network namespace (root), aiosmtpd and a
# webhook receiver on loopback.
vkt_add_test(vkt_alert_network_tests LABELS network TIMEOUT 180 COST 500
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_alert.cpp ${CMAKE_CURRENT_LIST_DIR}/it_notices.cpp
                     ${CMAKE_CURRENT_LIST_DIR}/it_followups.cpp
             LIBS vkt_db)
target_include_directories(vkt_alert_network_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/integration)
target_compile_definitions(vkt_alert_network_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_alert_network_tests vkt)
