# The data utilities' controller against real databases: the embedded file and the private
# PostgreSQL server.
file(GLOB VKT_DATUTIL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/datutil_*.cpp)
vkt_add_test(vkt_datutil_tests SHARDS 2 LABELS integration SOURCES ${VKT_DATUTIL_TEST_SOURCES} LIBS vkt_daemon)

# The Qt window of the data utilities, when the GUI is built.
if(TARGET vkt_gui)
    vkt_add_test(vkt_datutil_view_tests LABELS gui SOURCES ${CMAKE_SOURCE_DIR}/tests/gui/datutilview_test.cpp
                 LIBS vkt_gui)
endif()
