# SPDX-License-Identifier: MIT
# sjql-host years / hide / show / encrypt-config as a process, on demo installations.
sjql_add_test(NAME cleanup_hidensr_host_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HideNsrHostTest.cpp
              LIBS Qt6::Widgets LABELS sqlite gui e2e)
add_dependencies(cleanup_hidensr_host_test sjql-host)
