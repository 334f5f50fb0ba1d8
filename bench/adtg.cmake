# Writing and reading 100,000 wage-like rows as backup data files; prints rows per second.
add_executable(adtg_bench ${CMAKE_CURRENT_LIST_DIR}/adtg_bench.cpp)
target_link_libraries(adtg_bench PRIVATE sjql_support Qt6::Core Qt6::Sql)
sjql_warnings(adtg_bench)
