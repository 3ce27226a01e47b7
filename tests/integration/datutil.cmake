# vkt-datutil end to end: the real binary on a program directory with an embedded database, and on
# the private PostgreSQL server.
vkt_add_test(vkt_datutil_cli_tests LABELS integration SOURCES ${CMAKE_CURRENT_LIST_DIR}/datutil_cli.cpp
             ${CMAKE_SOURCE_DIR}/tests/db/pgserver.cpp LIBS vkt_db)
target_compile_definitions(vkt_datutil_cli_tests PRIVATE VKT_DATUTIL_BINARY="$<TARGET_FILE:vkt-datutil>")
add_dependencies(vkt_datutil_cli_tests vkt-datutil)
