# Socket layer: CPU of a silent connection, connections per second through the listener.
add_executable(bench_net ${CMAKE_CURRENT_LIST_DIR}/bench_net.cpp)
target_link_libraries(bench_net PRIVATE vkt_net vkt_options)
