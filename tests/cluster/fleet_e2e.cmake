# Four members sharing 2,000 sites on the private PostgreSQL server, killed, restarted and paused
# (root: the silent sites are routed into a namespace). It shares no address, namespace or port with
# the group tests, so it runs beside their chain rather than after it.
vkt_add_test(vkt_fleet_tests LABELS network TIMEOUT 420 LOCK fleet
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_fleet.cpp LIBS vkt_db vkt_cluster)
target_compile_definitions(vkt_fleet_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_fleet_tests vkt)
