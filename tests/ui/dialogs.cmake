# Result dialogs, hash table, progress jobs with their worker threads (offscreen).
sjql_add_test(NAME ui_dialogs_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/UiTestSupport.h ${CMAKE_CURRENT_LIST_DIR}/ResultDialogTest.cpp
                      ${CMAKE_CURRENT_LIST_DIR}/ProgressTest.cpp
              LIBS sjql_ui
              LABELS gui
              ENV "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
