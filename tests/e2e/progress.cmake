# SPDX-License-Identifier: MIT
# sjql-host init, clear and restore as processes: their progress on stderr (a log, a terminal,
# --quiet) beside unchanged results.
sjql_add_test(NAME progress_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgressE2eTest.cpp
              LIBS Qt6::Widgets LABELS sqlite e2e)
add_dependencies(progress_e2e_test sjql-host)
