# SPDX-License-Identifier: MIT
# INSERT statements built from rows of backup data files. The builder source is compiled in
# directly so that the test does not pull in the window.
sjql_add_test(NAME rowbuilder_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/RowBuildersTest.cpp ${PROJECT_SOURCE_DIR}/module/cleanup/RowBuilders.cpp
              LIBS sjql_db sjql_support LABELS unit)
