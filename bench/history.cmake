# What [History] costs at 10,000 sites: its share of a scan, and the write at each scan end on SQLite.
add_executable(bench_history ${CMAKE_CURRENT_LIST_DIR}/bench_history.cpp)
target_include_directories(bench_history PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(bench_history PRIVATE vkt_history vkt_db vkt_options)
