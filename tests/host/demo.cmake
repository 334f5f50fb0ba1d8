# Demo data generator and schema on SQLite and MariaDB.
sjql_add_test(NAME test_host_demo SOURCES ${CMAKE_CURRENT_LIST_DIR}/DemoDataTest.cpp LIBS host_data Qt6::Widgets LABELS sqlite mysql unit)
