// SPDX-License-Identifier: MIT
// Reading a packed archive back against its files: an archive with a member too few or too many,
// a damaged member or a file that changed after packing is refused, with the member named.
#include "archive/ArchiveCheck.h"

#include "archive/CompressUnit.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

class ArchiveCheck : public testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i) {
            const QString path = dir.filePath(QStringLiteral("f%1.dat").arg(i));
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            // Random bytes barely compress, so the members are large and a flipped byte lands inside one.
            QByteArray bytes(20000 + i, Qt::Uninitialized);
            QRandomGenerator generator(quint32(i + 1));
            for (char& c : bytes)
                c = char(generator.bounded(256));
            f.write(bytes);
            files << path;
        }
        archive = dir.filePath(QStringLiteral("a.zip"));
        ASSERT_TRUE(CompressFiles(files, archive, ArchivePassword));
    }

    QTemporaryDir dir;
    QStringList files;
    QString archive;
    QString error;
};

} // namespace

TEST_F(ArchiveCheck, DamagedOrIncompleteArchivesAreRefused)
{
    EXPECT_TRUE(VerifyBackupArchive(archive, files, ArchivePassword, &error)) << error.toStdString();

    // A member too few, a flipped byte inside a member, and a file that changed after packing.
    EXPECT_FALSE(VerifyBackupArchive(archive, files.mid(0, 2), ArchivePassword, &error));
    const QString damaged = dir.filePath(QStringLiteral("b.zip"));
    ASSERT_TRUE(QFile::copy(archive, damaged));
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes[100] = char(bytes[100] ^ 0x5A); // inside the first member's data
        f.seek(0);
        f.write(bytes);
    }
    EXPECT_FALSE(VerifyBackupArchive(damaged, files, ArchivePassword, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("f0.dat"))) << error.toStdString();
    {
        QFile f(files[1]);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("x");
    }
    EXPECT_FALSE(VerifyBackupArchive(archive, files, ArchivePassword, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("f1.dat"))) << error.toStdString();
}

// A month left in the work folder is recognised in an archive that holds other months as well; a
// file the archive lacks, or one packed with other bytes, is not.
TEST_F(ArchiveCheck, SomeMembersAreFoundInALargerArchive)
{
    EXPECT_TRUE(ArchiveHoldsFiles(archive, files.mid(1), ArchivePassword, ArchiveMembers::AtLeast, &error))
        << error.toStdString();
    EXPECT_FALSE(ArchiveHoldsFiles(archive, files.mid(1), ArchivePassword, ArchiveMembers::Exactly, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("3 members, 2 expected"))) << error.toStdString();

    const QString other = dir.filePath(QStringLiteral("other/f2.dat"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("other"))));
    ASSERT_TRUE(QFile::copy(files[0], other)); // the name of a member, the bytes of another
    EXPECT_FALSE(ArchiveHoldsFiles(archive, {other}, ArchivePassword, ArchiveMembers::AtLeast, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("f2.dat"))) << error.toStdString();
    EXPECT_FALSE(ArchiveHoldsFiles(archive, {dir.filePath(QStringLiteral("f9.dat"))}, ArchivePassword,
                                   ArchiveMembers::AtLeast, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing"))) << error.toStdString();
    // The wrong password opens nothing.
    EXPECT_FALSE(ArchiveHoldsFiles(archive, files, QStringLiteral("wrong"), ArchiveMembers::AtLeast, &error));
}
