# SPDX-License-Identifier: MIT
# The abnormal-taxpayer switch: availability from the host's encrypted settings through the real
# decryption library, and the hide/show round trip into the host's per-user ini.
sjql_add_test(NAME cleanup_hidensr_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HideNsrTest.cpp
              LIBS sjql_cleanup ModuleLib Qt6::Widgets LABELS gui unit)
add_dependencies(cleanup_hidensr_test GS_CryptZelpDes)
