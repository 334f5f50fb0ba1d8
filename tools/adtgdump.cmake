# adtgdump FILE: prints a backup data file's columns and rows as tab-separated text.
add_executable(adtgdump ${CMAKE_CURRENT_LIST_DIR}/adtgdump.cpp)
target_link_libraries(adtgdump PRIVATE sjql_support Qt6::Core)
sjql_warnings(adtgdump)
