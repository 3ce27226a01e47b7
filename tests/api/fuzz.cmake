# libFuzzer target for the sites' JSON bodies, built with clang as the HTTP request fuzzer is (see
# tests/web/fuzz.cmake), and run for a few seconds in the suite.
if(VKT_CLANGXX AND IS_ABSOLUTE "${VKT_FUZZER_RUNTIME}" AND EXISTS "${VKT_FUZZER_RUNTIME}")
    set(fuzz_body_out ${CMAKE_CURRENT_BINARY_DIR}/fuzz_site_body.bin)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    vkt_add_clang_fuzzer(fuzz_site_body ${fuzz_body_out}
                         SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_site_body.cpp ${CMAKE_SOURCE_DIR}/src/api/sitebody.cpp
                                 ${CMAKE_SOURCE_DIR}/src/db/tagrule.cpp
                                 ${CMAKE_SOURCE_DIR}/src/platform/json.cpp)
    add_test(NAME api_fuzz_site_body
             COMMAND ${fuzz_body_out} -max_total_time=5 -max_len=4096 -timeout=30 ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus
                     ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(api_fuzz_site_body PROPERTIES LABELS unit TIMEOUT 60)
endif()
