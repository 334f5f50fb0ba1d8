# The host withholding library on the host connection, SQLite and MariaDB.
sjql_add_test(NAME test_host_withholding SOURCES ${CMAKE_CURRENT_LIST_DIR}/WithholdingTest.cpp
              LIBS IITIterface ModuleLib host_data Qt6::Widgets LABELS sqlite mysql unit)
