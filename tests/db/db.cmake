# RunQuery, transactions, date literals, SQL error log and compaction on SQLite and MariaDB.
sjql_add_test(NAME test_db SOURCES ${CMAKE_CURRENT_LIST_DIR}/RunQueryTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SqlLogTest.cpp
              ${CMAKE_CURRENT_LIST_DIR}/CompactionTest.cpp
              LIBS sjql_db host_data ModuleLib Qt6::Widgets LABELS sqlite mysql unit)
