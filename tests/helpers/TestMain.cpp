// SPDX-License-Identifier: MIT
// Shared main of every test program: a QApplication, headless unless told otherwise, for programs
// that link Widgets; a QCoreApplication for those that do not (the jobs, db, archive, support).
#if __has_include(<QApplication>)
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Test discovery and headless CI runs have no display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
