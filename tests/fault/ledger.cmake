# SPDX-License-Identifier: MIT
# The campaign's own accounting: canonical row texts from database values and data files, the
# archive scanner and the ledger's verdicts.
sjql_add_test(NAME fault_ledger_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/LedgerTest.cpp
              LIBS sjql_fault_ledger Qt6::Widgets LABELS fault)
