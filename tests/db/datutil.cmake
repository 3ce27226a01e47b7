# The data utilities' controller against real databases: the embedded file and the private
# PostgreSQL server.
file(GLOB VKT_DATUTIL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/datutil_*.cpp)
vkt_add_test(vkt_datutil_tests LABELS integration SOURCES ${VKT_DATUTIL_TEST_SOURCES}
             ${CMAKE_CURRENT_LIST_DIR}/pgserver.cpp LIBS vkt_daemon)
