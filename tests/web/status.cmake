# The status page, JSON and metrics of the real daemon with curl, urllib, promtool and headless
# Chromium, the [Web] guards against real clients, and a 10,000-site board in Chromium.
if(TARGET vkt)
    vkt_add_test(vkt_status_tests LABELS integration TIMEOUT 180
                 SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_status.cpp ${CMAKE_CURRENT_LIST_DIR}/webfixture.cpp
                 LIBS vkt_web vkt_db)
    target_compile_definitions(vkt_status_tests PRIVATE VKT_BINARY="$<TARGET_FILE:vkt>")
    add_dependencies(vkt_status_tests vkt)
endif()
