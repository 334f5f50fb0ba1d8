# Backup data files: a month of demo data saved and read back on SQLite and MariaDB. The unit is
# compiled in directly so the test does not depend on the window code of the same folder.
sjql_add_test(NAME backup_datafile_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/BackupDataFilesTest.cpp ${PROJECT_SOURCE_DIR}/module/cleanup/BackupDataFiles.cpp
              LIBS sjql_db sjql_archive sjql_support sjql_context host_data ModuleLib Qt6::Widgets
              LABELS sqlite mysql unit)
