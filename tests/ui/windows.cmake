# Base windows, XP-style controls, gauge and image button (offscreen).
sjql_add_test(NAME ui_windows_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/UiTestSupport.h ${CMAKE_CURRENT_LIST_DIR}/BaseWindowTest.cpp
                      ${CMAKE_CURRENT_LIST_DIR}/GaugeTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ImageButtonTest.cpp
              LIBS sjql_ui
              LABELS gui)
