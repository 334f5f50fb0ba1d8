# SPDX-License-Identifier: MIT
# The backup summary: golden bytes, peers that parse it, and the reader the restore uses. The
# writer and reader sources are compiled in directly so that the test does not pull in the window.
sjql_add_test(NAME backup_summary_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/BackupSummaryTest.cpp ${PROJECT_SOURCE_DIR}/module/cleanup/BackupSummary.cpp
                      ${PROJECT_SOURCE_DIR}/module/support/XmlDocument.cpp
              LIBS sjql_archive PkgConfig::LIBXML2 Qt6::Widgets LABELS unit)
