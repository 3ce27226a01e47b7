# Backup and restore of 100,000 alarm rows by the data utilities, beside the sqlite3 shell and psql
# moving the same rows, on an embedded file and on a private PostgreSQL server; with "apply", a sites
# file of 10,000 and 100,000 sites read, checked, planned and applied.
add_executable(bench_datutil ${CMAKE_CURRENT_LIST_DIR}/bench_datutil.cpp ${CMAKE_SOURCE_DIR}/tests/db/pgserver.cpp)
target_include_directories(bench_datutil PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/db)
target_link_libraries(bench_datutil PRIVATE vkt_daemon vkt_options)
