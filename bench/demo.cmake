# Rows per second of the demo data generator (about one million history rows), SQLite and, when
# SJQL_TEST_MYSQL_URL is set, MariaDB.
add_executable(bench_demo_generate ${CMAKE_CURRENT_LIST_DIR}/demo_generate.cpp)
target_link_libraries(bench_demo_generate PRIVATE host_data Qt6::Core)
sjql_warnings(bench_demo_generate)
