# SPDX-License-Identifier: MIT
# The cleanup manager window on a real demo database (SQLite and MariaDB): year boxes, the year
# query's failure, backup folder rules over injected volumes, texts by host kind, artwork.
sjql_add_test(NAME cleanup_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/WindowTest.cpp
              LIBS sjql_cleanup host_data ModuleLib Qt6::Widgets LABELS gui sqlite mysql)
