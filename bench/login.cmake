# The [Web] login's time per attempt for right and wrong user names and passwords.
if(TARGET vkt_web)
    add_executable(bench_login ${CMAKE_CURRENT_LIST_DIR}/bench_login.cpp)
    target_link_libraries(bench_login PRIVATE vkt_web vkt_options)
endif()
