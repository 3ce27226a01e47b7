# Mail client: messages per second delivered to aiosmtpd, render time of a large attachment.
if(TARGET vkt_mail)
    add_executable(bench_smtp ${CMAKE_CURRENT_LIST_DIR}/bench_smtp.cpp)
    target_link_libraries(bench_smtp PRIVATE vkt_mail vkt_net vkt_options)
    target_include_directories(bench_smtp PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(bench_smtp PRIVATE VKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
