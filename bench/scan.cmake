# Cost of one scan per answering site split into its parts, beside the bare SQLite API and bare echo.
find_package(SQLite3 REQUIRED)
add_executable(bench_scan ${CMAKE_CURRENT_LIST_DIR}/bench_scan.cpp)
target_include_directories(bench_scan PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(bench_scan PRIVATE vkt_daemon vkt_options SQLite::SQLite3)
