# A fleet of real daemons sharing many sites on a private PostgreSQL server: rounds, spread, rows
# written, takeover after kill -9 and the notices through it (root only).
add_executable(fleet_scale ${CMAKE_CURRENT_LIST_DIR}/bench_fleet_scale.cpp ${CMAKE_SOURCE_DIR}/tests/db/pgserver.cpp)
target_include_directories(fleet_scale PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/db)
target_link_libraries(fleet_scale PRIVATE vkt_db vkt_cluster vkt_options)
target_compile_definitions(fleet_scale PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>" VKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(fleet_scale vkt)
