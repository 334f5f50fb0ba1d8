# SPDX-License-Identifier: MIT
# XML document access over libxml2. The reader's source is compiled in directly so that the test
# does not depend on the rest of the support folder.
sjql_add_test(NAME xml_document_test
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/XmlDocumentTest.cpp ${PROJECT_SOURCE_DIR}/module/support/XmlDocument.cpp
              LIBS sjql_hostapi PkgConfig::LIBXML2 Qt6::Widgets LABELS unit)
