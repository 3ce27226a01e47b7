# libFuzzer target for request reading, recognition and query parsing. It is built with clang
# whatever compiler builds the rest, and runs for a few seconds in the suite; bench/ runs it longer.
find_program(VKT_CLANGXX NAMES clang++ clang++-14)
if(VKT_CLANGXX)
    # libFuzzer's runtime comes in a package of its own; without it the target is left out.
    execute_process(COMMAND ${VKT_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                    OUTPUT_VARIABLE VKT_FUZZER_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(VKT_CLANGXX AND IS_ABSOLUTE "${VKT_FUZZER_RUNTIME}" AND EXISTS "${VKT_FUZZER_RUNTIME}")
    set(fuzz_out ${CMAKE_CURRENT_BINARY_DIR}/fuzz_http_request.bin)
    # New inputs go to the build's corpus; the committed seeds stay as they are.
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    set(fuzz_sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_http_request.cpp ${CMAKE_SOURCE_DIR}/src/web/httprequest.cpp
                     ${CMAKE_SOURCE_DIR}/src/web/formfields.cpp
                     ${CMAKE_SOURCE_DIR}/src/platform/strutil.cpp)
    add_custom_command(OUTPUT ${fuzz_out}
                       COMMAND ${VKT_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
                               -fno-sanitize-recover=undefined -I${CMAKE_SOURCE_DIR}/src ${fuzz_sources} -o ${fuzz_out}
                       DEPENDS ${fuzz_sources} ${CMAKE_SOURCE_DIR}/src/web/httprequest.h
                       COMMENT "Building the HTTP request fuzzer with clang")
    add_custom_target(fuzz_http_request ALL DEPENDS ${fuzz_out})
    add_test(NAME web_fuzz_http_request
             COMMAND ${fuzz_out} -max_total_time=5 -max_len=4096 -timeout=30 ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus
                     ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(web_fuzz_http_request PROPERTIES LABELS unit TIMEOUT 60)
endif()
