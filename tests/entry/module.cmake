# The module library itself: libsjql.so loaded with QLibrary as the host loads it (not linked in).
sjql_add_test(NAME test_entry_module SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModuleEntryTest.cpp
              LIBS ModuleLib host_data Qt6::Widgets LABELS sqlite unit gui)
add_dependencies(test_entry_module sjql)
