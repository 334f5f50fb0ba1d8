# Module context: parameter texts, value-object getters, database kinds, coded error texts, ini reader.
sjql_add_test(NAME test_entry_context SOURCES ${CMAKE_CURRENT_LIST_DIR}/ContextTest.cpp
              LIBS sjql_context sjql_support ModuleLib Qt6::Widgets LABELS unit)
