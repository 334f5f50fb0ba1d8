# SPDX-License-Identifier: MIT
# Backup-and-clear then restore through sjql-host as a process, on SQLite and MariaDB.
sjql_add_test(NAME restore_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestoreE2eTest.cpp
              LIBS host_data Qt6::Widgets LABELS sqlite mysql e2e)
add_dependencies(restore_e2e_test sjql-host)
