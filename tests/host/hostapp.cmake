# sjql-host as a process: init, info and open --screenshot on a temporary installation.
sjql_add_test(NAME test_host_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/HostAppTest.cpp LIBS host_data Qt6::Widgets LABELS sqlite mysql e2e)
add_dependencies(test_host_app sjql-host)
