# One whole scan of 10,000 and of 1,000 sites by the real daemon with [Scan] Parallel, on an embedded
# database and on a private PostgreSQL server, beside fping on the same addresses (root only).
add_executable(scan_scale ${CMAKE_CURRENT_LIST_DIR}/bench_scan_scale.cpp ${CMAKE_SOURCE_DIR}/tests/db/pgserver.cpp)
target_include_directories(scan_scale PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/db)
target_link_libraries(scan_scale PRIVATE vkt_db vkt_options)
target_compile_definitions(scan_scale PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
add_dependencies(scan_scale vkt)
