# sjql-host as an installed host meets it: a read-only executable folder, the user's folders for
# settings, the --employees range, and the module's work folders after its runs.
sjql_add_test(NAME test_entry_installation SOURCES ${CMAKE_CURRENT_LIST_DIR}/InstallationTest.cpp
              LIBS Qt6::Widgets LABELS sqlite e2e)
add_dependencies(test_entry_installation sjql-host)
