# SPDX-License-Identifier: MIT
# The backup-and-clear run on demo data, on SQLite and MariaDB, without a window.
sjql_add_test(NAME backup_job_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/BackupJobTest.cpp
              LIBS sjql_cleanup host_data ModuleLib Qt6::Widgets LABELS sqlite mysql unit)
