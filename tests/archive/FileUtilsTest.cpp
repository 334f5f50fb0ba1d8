// SPDX-License-Identifier: MIT
#include "archive/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void touch(const QString& path, const QByteArray& bytes = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class FileUtilsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        startFolder = QDir::currentPath();
    }
    // None of the routines may move the process's current folder.
    void TearDown() override { EXPECT_EQ(QDir::currentPath(), startFolder); }

    QString path(const QString& relative) const { return tmp.filePath(relative); }

    QTemporaryDir tmp;
    QString startFolder;
};

TEST_F(FileUtilsTest, AddBackslashAppendsTheSeparatorOnce)
{
    EXPECT_EQ(AddBackslash(QStringLiteral("/tmp/TEMP")), QStringLiteral("/tmp/TEMP/"));
    EXPECT_EQ(AddBackslash(QStringLiteral("/tmp/TEMP/")), QStringLiteral("/tmp/TEMP/"));
    EXPECT_EQ(AddBackslash(QStringLiteral("/")), QStringLiteral("/"));
    // An unset folder stays unset instead of becoming the root folder.
    EXPECT_EQ(AddBackslash(QString()), QString());
}

TEST_F(FileUtilsTest, ForceDirsCreatesMissingParents)
{
    const QString deep = path(QStringLiteral("a/b/c/"));
    EXPECT_FALSE(DirExists(deep));
    EXPECT_TRUE(ForceDirs(deep));
    EXPECT_TRUE(DirExists(path(QStringLiteral("a"))));
    EXPECT_TRUE(DirExists(path(QStringLiteral("a/b/c"))));
    EXPECT_TRUE(ForceDirs(deep)); // already there
    EXPECT_FALSE(ForceDirs(QString()));
    // A file standing where a folder is wanted.
    touch(path(QStringLiteral("file")));
    EXPECT_FALSE(ForceDirs(path(QStringLiteral("file/sub"))));
    EXPECT_FALSE(DirExists(path(QStringLiteral("file"))));
    EXPECT_FALSE(DirExists(QString()));
}

TEST_F(FileUtilsTest, DeleteTreeRemovesAYearFolder)
{
    const QString year = path(QStringLiteral("2019"));
    ASSERT_TRUE(ForceDirs(year + QStringLiteral("/sub/empty")));
    touch(year + QStringLiteral("/ZCGZXJMXB_201901.dat"));
    touch(year + QStringLiteral("/BFZYXX.xml"));
    touch(year + QStringLiteral("/.hidden"));
    touch(year + QStringLiteral("/sub/KJSDSBGB_201901.dat"));
    EXPECT_TRUE(DeleteTree(year));
    EXPECT_FALSE(QFileInfo::exists(year));
    EXPECT_TRUE(QFileInfo::exists(tmp.path()));
}

TEST_F(FileUtilsTest, DeleteTreeOfAnEmptyFolderReportsItGone)
{
    const QString empty = path(QStringLiteral("empty/"));
    ASSERT_TRUE(ForceDirs(empty));
    EXPECT_TRUE(DeleteTree(empty));
    EXPECT_FALSE(QFileInfo::exists(empty));
}

TEST_F(FileUtilsTest, MissingFoldersAreErrorsNotCrashes)
{
    QString error;
    EXPECT_FALSE(ClearFolder(path(QStringLiteral("missing")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing"))) << error.toStdString();
    EXPECT_FALSE(DeleteTree(path(QStringLiteral("missing")), &error));
    EXPECT_FALSE(DeleteTree(QString(), &error));
    touch(path(QStringLiteral("plain")));
    EXPECT_FALSE(ClearFolder(path(QStringLiteral("plain")), &error));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("plain"))));
}

TEST_F(FileUtilsTest, ClearFolderRemovesLinksWithoutFollowingThem)
{
    const QString outside = path(QStringLiteral("outside"));
    ASSERT_TRUE(ForceDirs(outside));
    touch(outside + QStringLiteral("/keep.dat"));
    const QString work = path(QStringLiteral("work"));
    ASSERT_TRUE(ForceDirs(work));
    touch(work + QStringLiteral("/a.dat"));
    ASSERT_TRUE(QFile::link(outside, work + QStringLiteral("/link")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), work + QStringLiteral("/dangling")));

    // Removing the link that stands for a folder leaves the folder it points to alone.
    const QString linkedWork = path(QStringLiteral("linked-work"));
    ASSERT_TRUE(QFile::link(outside, linkedWork));
    EXPECT_TRUE(DeleteTree(linkedWork + QLatin1Char('/')));
    EXPECT_FALSE(QFileInfo(linkedWork).isSymLink());

    EXPECT_TRUE(ClearFolder(work));
    EXPECT_TRUE(DirExists(work)); // it had entries, so it stays, emptied
    EXPECT_TRUE(QDir(work).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep.dat")), QByteArray("x"));
}

TEST_F(FileUtilsTest, SaveTextToFileWritesExactlyTheBytes)
{
    const QString file = path(QStringLiteral("new/folder/BFZYXX.xml"));
    EXPECT_TRUE(SaveTextToFile(file, QByteArray(5000, 'o')));
    const QByteArray text("\xb9\xa4\xd7\xca<a/>", 9); // GBK bytes, no line end added
    EXPECT_TRUE(SaveTextToFile(file, text));
    EXPECT_EQ(readFile(file), text);
    EXPECT_TRUE(SaveTextToFile(file, QByteArray()));
    EXPECT_EQ(QFileInfo(file).size(), 0);
    // Nothing but the file itself is left in its folder.
    EXPECT_EQ(QDir(path(QStringLiteral("new/folder"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("BFZYXX.xml")});

    QString error;
    EXPECT_FALSE(SaveTextToFile(path(QStringLiteral("new")), "x", &error)); // a folder stands there
    EXPECT_TRUE(error.contains(QStringLiteral("new"))) << error.toStdString();
}

// The backup forces each data file, archive and their folders to the disk before it lets the host
// clear a month: a path that cannot be synced must say so, never pass for synced.
TEST_F(FileUtilsTest, SyncToDiskSyncsFilesAndFoldersAndFailsForWhatIsNotThere)
{
    const QString file = path(QStringLiteral("year/ZCGZXJMXB_201901.dat"));
    ASSERT_TRUE(ForceDirs(path(QStringLiteral("year"))));
    touch(file, "rows");
    EXPECT_TRUE(SyncToDisk(file));
    EXPECT_TRUE(SyncToDisk(path(QStringLiteral("year"))));
    EXPECT_EQ(readFile(file), QByteArray("rows"));
    EXPECT_FALSE(SyncToDisk(path(QStringLiteral("year/missing.dat"))));
    EXPECT_FALSE(SyncToDisk(QString()));
}

} // namespace
