# Tests of the data layer against real databases: embedded files in temporary directories and a
# private PostgreSQL server on loopback reached through ODBC; the history tables among them.
file(GLOB VKT_DB_IT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/it_*.cpp)
vkt_add_test(vkt_db_integration_tests SHARDS 3 LABELS integration SOURCES ${VKT_DB_IT_SOURCES} LIBS vkt_db vkt_history)
