# SPDX-License-Identifier: MIT
# sjql-bench: backup-and-clear and restore of one large year against the sqlite3 shell, zip and
# unzip (SQLite) or mariadb-dump and the mariadb client (MariaDB); prints times, ratios, peak
# memory and the longest gap between event processing.
add_executable(sjql-bench ${CMAKE_CURRENT_LIST_DIR}/sjql_bench.cpp)
target_link_libraries(sjql-bench PRIVATE sjql_cleanup host_data ModuleLib IITIterface Qt6::Widgets Qt6::Sql)
sjql_warnings(sjql-bench)
# The phases of a run are timed by wrapping the building blocks the jobs call; a renamed or
# re-typed function shows up here as an undefined __real_ symbol at link time.
set(_sjql_bench_wrapped
    _ZN4sjql8RunQueryERK7QStringR9QSqlQueryb
    _ZN9QSqlQuery4lastEv
    _ZN4sjql4adtg17SaveRecordsetAdtgER9QSqlQueryRK12QSqlDatabaseRK7QStringS8_PS6_RKSt8functionIFvvEE
    _ZN4sjql4adtg13AdtgRecordset4openERK7QString
    _ZN4sjql4adtg13AdtgRecordset8moveNextEv
    ClearDKDJData
    _ZN4sjql13CompressFilesERK5QListI7QStringERKS1_RKSt8optionalIS1_EPS1_
    _ZN4sjql14UncompressFileERK7QStringS2_bRKSt8optionalIS0_EPS0_
    _ZN4sjql15BuildWageInsertERKNS_4adtg13AdtgRecordsetENS_7TDBKindER7QStringPS5_
    _ZN4sjql18BuildNonWageInsertERKNS_4adtg13AdtgRecordsetENS_7TDBKindER7QStringPS5_
    _ZN4sjql17BuildReportInsertERKNS_4adtg13AdtgRecordsetENS_7TDBKindER7QStringPS5_)
foreach(_sym ${_sjql_bench_wrapped})
    target_link_options(sjql-bench PRIVATE "LINKER:--wrap=${_sym}")
endforeach()

# A small run of each kind in the test suite, so that the benchmark keeps working (the figures of
# a few employees mean nothing). MariaDB: the test server of SJQL_TEST_MYSQL_URL.
add_test(NAME bench_smoke_sqlite COMMAND sjql-bench --employees 5 --db sqlite)
add_test(NAME bench_smoke_mysql COMMAND sjql-bench --employees 5 --db mysql)
set_tests_properties(bench_smoke_sqlite bench_smoke_mysql
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=Asia/Shanghai" TIMEOUT 600
                                PASS_REGULAR_EXPRESSION "ratio restore .*max_event_gap_ms")
set_tests_properties(bench_smoke_sqlite PROPERTIES LABELS "sqlite;bench")
set_tests_properties(bench_smoke_mysql PROPERTIES LABELS "mysql;bench")
