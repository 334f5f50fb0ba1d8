# SPDX-License-Identifier: MIT
# The progress lines of sjql-host's long commands: the styles, the terminal's width, following a
# progress window by its object names.
sjql_add_test(NAME test_progress_reporter
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgressReporterTest.cpp ${PROJECT_SOURCE_DIR}/host/app/ProgressReporter.cpp
              LIBS Qt6::Widgets LABELS unit)
target_include_directories(test_progress_reporter PRIVATE ${PROJECT_SOURCE_DIR}/host/app)
