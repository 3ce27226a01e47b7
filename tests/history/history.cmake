# The real daemon with [History]: a site cut by nft in a namespace for a few scans, a restart, and the
# outage and uptime read back through the CSVs (Python's csv module) and /status.json. Needs root.
if(TARGET vkt)
    vkt_add_test(vkt_history_network_tests LABELS network TIMEOUT 180 COST 500
                 SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_history.cpp
                 LIBS vkt_db)
    target_compile_definitions(vkt_history_network_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
    add_dependencies(vkt_history_network_tests vkt)
endif()
