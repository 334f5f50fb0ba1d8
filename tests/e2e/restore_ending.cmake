# SPDX-License-Identifier: MIT
# sjql-host restore of damaged archives as a process (SQLite and MariaDB): the exit code and the
# closing line tell the failure.
sjql_add_test(NAME restore_ending_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestoreEndingTest.cpp
              LIBS host_data Qt6::Widgets LABELS sqlite mysql e2e)
add_dependencies(restore_ending_test sjql-host)
