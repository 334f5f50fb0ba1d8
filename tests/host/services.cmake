# The host services library libModuleLib.so through its exported C functions.
sjql_add_test(NAME test_host_services SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServicesTest.cpp
              LIBS ModuleLib Qt6::Widgets LABELS unit)
