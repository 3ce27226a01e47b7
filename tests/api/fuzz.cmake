# libFuzzer target for the sites' JSON bodies, built with clang as the HTTP request fuzzer is (see
# tests/web/fuzz.cmake), and run for a few seconds in the suite.
find_program(VKT_CLANGXX NAMES clang++ clang++-14)
if(VKT_CLANGXX)
    execute_process(COMMAND ${VKT_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                    OUTPUT_VARIABLE VKT_FUZZER_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(VKT_CLANGXX AND IS_ABSOLUTE "${VKT_FUZZER_RUNTIME}" AND EXISTS "${VKT_FUZZER_RUNTIME}")
    set(fuzz_body_out ${CMAKE_CURRENT_BINARY_DIR}/fuzz_site_body.bin)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
    set(fuzz_body_sources ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_site_body.cpp ${CMAKE_SOURCE_DIR}/src/api/sitebody.cpp
                          ${CMAKE_SOURCE_DIR}/src/platform/json.cpp)
    add_custom_command(OUTPUT ${fuzz_body_out}
                       COMMAND ${VKT_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
                               -fno-sanitize-recover=undefined -I${CMAKE_SOURCE_DIR}/src ${fuzz_body_sources}
                               -o ${fuzz_body_out}
                       DEPENDS ${fuzz_body_sources} ${CMAKE_SOURCE_DIR}/src/api/sitebody.h
                       COMMENT "Building the site body fuzzer with clang")
    add_custom_target(fuzz_site_body ALL DEPENDS ${fuzz_body_out})
    add_test(NAME api_fuzz_site_body
             COMMAND ${fuzz_body_out} -max_total_time=5 -max_len=4096 -timeout=30 ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus
                     ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(api_fuzz_site_body PROPERTIES LABELS unit TIMEOUT 60)
endif()
