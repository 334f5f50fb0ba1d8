# Installation and the Debian package.
#
#   <prefix>/bin/sjql-host                        the reference host
#   <prefix>/<libdir>/sjql/                       what the host loads: the module libsjql.so, the host's
#                                                 services, withholding and decryption libraries, and
#                                                 the desktop launcher
#   <prefix>/share/applications/sjql-host.desktop
#   <prefix>/share/icons/hicolor/{scalable,48x48}/apps/sjql-host.{svg,png}
#
# Every search path is relative ($ORIGIN), so the tree works wherever it is unpacked. The host finds
# the libraries it loads by path through SJQL_HOST_LIBRARY_DIR_FROM_EXE (host/app/CMakeLists.txt).
# Settings and logs that belong beside the executable and the module go to the user's XDG folders
# when those folders are read-only, as they are here.

set(SJQL_INSTALL_PKGLIBDIR ${CMAKE_INSTALL_LIBDIR}/sjql)

install(TARGETS sjql-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS sjql ModuleLib IITIterface GS_CryptZelpDes LIBRARY DESTINATION ${SJQL_INSTALL_PKGLIBDIR})

# The desktop entry starts a launcher that makes the demo installation on first use, so a click on
# the menu entry never ends in silence.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/sjql-host-desktop.sh DESTINATION ${SJQL_INSTALL_PKGLIBDIR}
        RENAME sjql-host-desktop)
set(SJQL_DESKTOP_LAUNCHER ${CMAKE_INSTALL_FULL_LIBDIR}/sjql/sjql-host-desktop)
configure_file(${PROJECT_SOURCE_DIR}/packaging/sjql-host.desktop.in ${CMAKE_BINARY_DIR}/sjql-host.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sjql-host.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/sjql-host.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/sjql-host-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME sjql-host.png)

# CPack: a .deb for Debian 12 (cpack -G DEB in the build folder).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sjql-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "sjql maintainers <sjql@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "history cleanup module for the withholding client, with its reference host")
set(CPACK_PACKAGE_DESCRIPTION
    "Backs up the history of a withholding agent year by year into password-protected ZIP archives,\n"
    "clears it from the host's database and restores it from such archives. The reference host\n"
    "sjql-host loads the module, keeps a demo installation with SQLite or MariaDB and runs the jobs\n"
    "from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Shared libraries from dpkg-shlibdeps; our own private libraries are found in their folder. Qt
# loads its SQL drivers as plug-ins, which no linker dependency shows: named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-mysql")
# Without a CJK font every Chinese character of the window is a box.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")
include(CPack)
