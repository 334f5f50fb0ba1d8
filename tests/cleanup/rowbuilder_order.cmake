# SPDX-License-Identifier: MIT
# Row builders over data files whose columns stand in different orders.
sjql_add_test(NAME rowbuilder_order_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/RowBuildersColumnOrderTest.cpp
                      ${PROJECT_SOURCE_DIR}/module/cleanup/RowBuilders.cpp
              LIBS sjql_db sjql_support LABELS unit)
