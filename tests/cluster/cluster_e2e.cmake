# Several members of one group end to end: real daemons, each in a network namespace on a bridge
# (root), on the private PostgreSQL server of the database tests, with aiosmtpd on the bridge. The
# cases share no addresses with other tests, but three daemons each are run one at a time.
vkt_add_test(vkt_cluster_network_tests LABELS network TIMEOUT 300 LOCK cluster
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_cluster.cpp LIBS vkt_db)
target_compile_definitions(vkt_cluster_network_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(vkt_cluster_network_tests vkt)
