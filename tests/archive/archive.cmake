# SPDX-License-Identifier: MIT
# Packing and unpacking of backup archives (with ZIP tools as peers), and the file utilities.
sjql_add_test(NAME compress_unit_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CompressUnitTest.cpp
              LIBS sjql_archive Qt6::Widgets LABELS unit)
sjql_add_test(NAME file_utils_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileUtilsTest.cpp
              LIBS sjql_archive Qt6::Widgets LABELS unit)
