# Statements per second of the scan's statement mix through the data layer against the bare client
# APIs, on an embedded file and on a private PostgreSQL server.
find_package(SQLite3 REQUIRED)
find_package(ODBC REQUIRED)
add_executable(bench_db ${CMAKE_CURRENT_LIST_DIR}/bench_db.cpp ${CMAKE_SOURCE_DIR}/tests/db/pgserver.cpp)
target_include_directories(bench_db PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/db)
target_link_libraries(bench_db PRIVATE vkt_db vkt_options SQLite::SQLite3 ODBC::ODBC)
