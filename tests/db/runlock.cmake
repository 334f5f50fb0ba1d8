# One backup or restore run at a time per database and agent, across connections and processes.
sjql_add_test(NAME test_runlock SOURCES ${CMAKE_CURRENT_LIST_DIR}/RunLockTest.cpp
              LIBS sjql_db host_data ModuleLib Qt6::Widgets LABELS sqlite mysql unit)
