# Mail client: messages per second delivered to aiosmtpd, render time of a large attachment.
if(TARGET vkt_mail)
    add_executable(bench_smtp ${CMAKE_CURRENT_LIST_DIR}/bench_smtp.cpp)
    target_link_libraries(bench_smtp PRIVATE vkt_mail vkt_net vkt_options)
endif()
