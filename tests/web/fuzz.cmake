# libFuzzer target for request reading, recognition and query parsing. It runs for a few seconds in the
# suite; bench/ runs it longer.
if(VKT_CLANGXX AND IS_ABSOLUTE "${VKT_FUZZER_RUNTIME}" AND EXISTS "${VKT_FUZZER_RUNTIME}")
    set(fuzz_out ${CMAKE_CURRENT_BINARY_DIR}/fuzz_http_request.bin)
    # New inputs go to the build's corpus; the committed seeds stay as they are.
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    vkt_add_clang_fuzzer(fuzz_http_request ${fuzz_out}
                         SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_http_request.cpp
                                 ${CMAKE_SOURCE_DIR}/src/web/httprequest.cpp ${CMAKE_SOURCE_DIR}/src/web/formfields.cpp
                                 ${CMAKE_SOURCE_DIR}/src/platform/strutil.cpp)
    add_test(NAME web_fuzz_http_request
             COMMAND ${fuzz_out} -max_total_time=5 -max_len=4096 -timeout=30 ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus
                     ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(web_fuzz_http_request PROPERTIES LABELS unit TIMEOUT 60)
endif()
