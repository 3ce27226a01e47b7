# A maintenance window made on the status page of the real vkt binary (curl with the [Web] login),
# holding a notice that aiosmtpd on loopback then receives once.
vkt_add_test(vkt_maintenance_network_tests LABELS network TIMEOUT 180
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_maintenance.cpp
             LIBS vkt_db)
target_include_directories(vkt_maintenance_network_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/integration)
target_compile_definitions(vkt_maintenance_network_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_maintenance_network_tests vkt)
