# Events processed from inside long SQLite statements.
sjql_add_test(NAME test_statement_event_pump SOURCES ${CMAKE_CURRENT_LIST_DIR}/StatementEventPumpTest.cpp
              LIBS sjql_db Qt6::Sql LABELS sqlite unit)
# An open SQLite transaction written to its file part by part.
sjql_add_test(NAME test_transaction_flush SOURCES ${CMAKE_CURRENT_LIST_DIR}/TransactionFlushTest.cpp
              LIBS sjql_db Qt6::Sql LABELS sqlite unit)
