# The ADTG recordset codec: golden bytes, damaged input, and the files written by ADO.
sjql_add_test(NAME adtg_codec_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/AdtgCodecTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AdtgCorpusTest.cpp
              LIBS sjql_support Qt6::Widgets
              LABELS unit)
# File work on a helper thread beside the event processing.
sjql_add_test(NAME beside_events_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/BesideEventsTest.cpp LIBS sjql_support Qt6::Widgets
              LABELS unit)
