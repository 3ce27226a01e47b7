# The real daemon's web pages through curl and headless Chromium.
if(TARGET vkt)
    vkt_add_test(vkt_web_browser_tests LABELS integration TIMEOUT 180 COST 500
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/it_browser.cpp
                 LIBS vkt_platform)
    target_compile_definitions(vkt_web_browser_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
    add_dependencies(vkt_web_browser_tests vkt)
endif()
