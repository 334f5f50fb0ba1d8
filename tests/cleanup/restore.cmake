# SPDX-License-Identifier: MIT
# The restore run on SQLite and MariaDB. The cleanup sources it needs are compiled in directly so
# that the test does not pull in the window.
sjql_add_test(NAME restore_job_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestoreJobTest.cpp ${PROJECT_SOURCE_DIR}/module/cleanup/RestoreJob.cpp
                      ${PROJECT_SOURCE_DIR}/module/cleanup/RowBuilders.cpp
                      ${PROJECT_SOURCE_DIR}/module/cleanup/BackupSummary.cpp
                      ${PROJECT_SOURCE_DIR}/module/cleanup/BackupDataFiles.cpp
              LIBS sjql_ui sjql_db sjql_archive sjql_support sjql_context host_data IITIterface ModuleLib Qt6::Widgets
              LABELS sqlite mysql unit)
