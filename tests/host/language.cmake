# The host's language: Qt's Chinese translations for standard buttons and file dialogs.
sjql_add_test(NAME test_host_language SOURCES ${CMAKE_CURRENT_LIST_DIR}/LanguageTest.cpp LIBS ModuleLib Qt6::Widgets LABELS unit)
