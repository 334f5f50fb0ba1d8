# SPDX-License-Identifier: MIT
# sjql-host clear as a process on a demo installation (SQLite and MariaDB), including a run killed
# in the middle of a year and its rerun.
sjql_add_test(NAME clear_run_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClearRunTest.cpp
              LIBS sjql_archive sjql_support host_data Qt6::Widgets LABELS sqlite mysql e2e)
add_dependencies(clear_run_test sjql-host)
