# sjql_add_test(NAME name SOURCES ... LIBS ... LABELS ... [ENV ...])
# One GoogleTest program; ctest runs it headless (offscreen), in a fixed locale and time zone.
function(sjql_add_test)
    cmake_parse_arguments(A "" "NAME" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${A_NAME} ${A_SOURCES} ${PROJECT_SOURCE_DIR}/tests/helpers/TestMain.cpp)
    target_include_directories(${A_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/module
                                                 ${PROJECT_SOURCE_DIR})
    target_link_libraries(${A_NAME} PRIVATE ${A_LIBS} GTest::gtest Qt6::Core Qt6::Test)
    target_compile_definitions(${A_NAME} PRIVATE SJQL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                 SJQL_BINARY_DIR="${CMAKE_BINARY_DIR}")
    sjql_warnings(${A_NAME})
    set(_env "QT_QPA_PLATFORM=offscreen" "LC_ALL=C.UTF-8" "TZ=Asia/Shanghai")
    list(APPEND _env ${A_ENV})
    # DISABLED_ tests are entry points that a test starts as its own child process (a second
    # holder of a lock, a process killed half-way), not tests of their own: ctest does not list them.
    gtest_discover_tests(${A_NAME} DISCOVERY_MODE PRE_TEST TEST_FILTER "-*.DISABLED_*" TEST_LIST ${A_NAME}_TESTS
                         PROPERTIES TIMEOUT 600)
    # Labels and environment are lists, which the discovery script passes on as separate words (only
    # the first label and the first variable would arrive): a second script, read after it, sets
    # them on every discovered test.
    set(_props ${CMAKE_CURRENT_BINARY_DIR}/${A_NAME}_properties.cmake)
    file(WRITE ${_props} "set_tests_properties(\${${A_NAME}_TESTS} PROPERTIES LABELS [==[${A_LABELS}]==]
                     ENVIRONMENT [==[${_env}]==])\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_props})
endfunction()
include(GoogleTest)
