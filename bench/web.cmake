# Web administration: pages per second beside nginx (bench_web_nginx.sh), request parsing rate, and
# a longer run of the request fuzzer (bench_web_fuzz.sh).
if(TARGET vkt_web)
    add_executable(bench_web ${CMAKE_CURRENT_LIST_DIR}/bench_web.cpp)
    target_link_libraries(bench_web PRIVATE vkt_web vkt_api vkt_options)
endif()
