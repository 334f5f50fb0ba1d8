# SPDX-License-Identifier: MIT
# The cleanup window's clear button with the progress window and scripted dialogs.
sjql_add_test(NAME backup_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/BackupWindowTest.cpp
              LIBS sjql_cleanup host_data ModuleLib Qt6::Widgets LABELS gui sqlite)
