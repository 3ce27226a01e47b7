# Per-probe cost of PingSite against bare echo loops on loopback.
add_executable(bench_icmp ${CMAKE_CURRENT_LIST_DIR}/bench_icmp.cpp)
target_link_libraries(bench_icmp PRIVATE vkt_daemon vkt_options)
