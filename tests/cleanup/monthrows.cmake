# SPDX-License-Identifier: MIT
# Row digests of a month on SQLite and MariaDB: database and data file alike, values the restore
# cannot write back, rows of another agent or month in a data file.
sjql_add_test(NAME month_rows_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MonthRowsTest.cpp
              LIBS sjql_cleanup host_data ModuleLib Qt6::Widgets LABELS sqlite mysql unit)
