// SPDX-License-Identifier: MIT
// What the archive layer writes is the user's alone, whatever the process's mask, and the strong
// mode's AES-256 archives open with their password only: in this module and in 7-Zip.
#include "archive/ArchiveCheck.h"
#include "archive/CompressUnit.h"
#include "archive/FileUtils.h"
#include "hostapi/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace sjql;

namespace {

int modeOf(const QString& path)
{
    struct stat st
    {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Tool
{
    int exitCode = -1;
    QByteArray output;
};

Tool run7z(const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("7z"), arguments);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// Runs each test under the most permissive mask a host process could have.
class ArchiveSecurityTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        previousMask = ::umask(0);
        work = tmp.filePath(QStringLiteral("work"));
        ASSERT_TRUE(QDir().mkpath(work));
        for (const auto& [name, bytes] :
             {std::pair{QStringLiteral("ZCGZXJMXB_201903.dat"), QByteArray(5000, 'w') + "张三 110101199001011234"},
              std::pair{QStringLiteral("BFZYXX.xml"), QByteArray("<?xml version=\"1.0\" encoding=\"GBK\" ?><Q/>")}}) {
            QFile f(QDir(work).filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
            files << f.fileName();
            contents << bytes;
        }
    }
    void TearDown() override { ::umask(previousMask); }

    void expectUnpacked(const QString& folder)
    {
        for (qsizetype i = 0; i < files.size(); ++i)
            EXPECT_EQ(readFile(QDir(folder).filePath(QFileInfo(files[i]).fileName())), contents[i]);
    }

    QTemporaryDir tmp;
    mode_t previousMask = 0;
    QString work;
    QStringList files;
    QList<QByteArray> contents;
};

TEST_F(ArchiveSecurityTest, EverythingCreatedIsOwnerOnlyUnderAnOpenMask)
{
    // Folders: each one made is 0700, one that was there keeps its mode.
    const QString parent = tmp.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkdir(parent));
    ::chmod(QFile::encodeName(parent).constData(), 0755);
    ASSERT_TRUE(ForceDirs(parent + QStringLiteral("/备份/2019")));
    EXPECT_EQ(modeOf(parent), 0755);
    EXPECT_EQ(modeOf(parent + QStringLiteral("/备份")), 0700);
    EXPECT_EQ(modeOf(parent + QStringLiteral("/备份/2019")), 0700);

    // A new archive, for either cipher, and what is unpacked from it.
    const QString archive = parent + QStringLiteral("/备份/2019.zip");
    ASSERT_TRUE(CompressFiles(files, archive, QString(ArchivePassword)));
    EXPECT_EQ(modeOf(archive), 0600);
    const QString strong = parent + QStringLiteral("/备份/strong.zip");
    ASSERT_TRUE(CompressFiles(files, strong, StrongProtection(QStringLiteral("long enough")), nullptr, nullptr));
    EXPECT_EQ(modeOf(strong), 0600);
    const QString unpacked = tmp.filePath(QStringLiteral("unzip/UnZipDir"));
    ASSERT_TRUE(UncompressFile(archive, unpacked, false, QString(ArchivePassword)));
    EXPECT_EQ(modeOf(tmp.filePath(QStringLiteral("unzip"))), 0700);
    EXPECT_EQ(modeOf(unpacked), 0700);
    for (const QString& name : QDir(unpacked).entryList(QDir::Files | QDir::Hidden))
        EXPECT_EQ(modeOf(QDir(unpacked).filePath(name)), 0600) << name.toStdString();

    // A text file such as the summary: new ones 0600, a replaced one keeps its mode.
    const QString summary = parent + QStringLiteral("/备份/2019/BFZYXX.xml");
    ASSERT_TRUE(SaveTextToFile(summary, "<Q/>"));
    EXPECT_EQ(modeOf(summary), 0600);
    ::chmod(QFile::encodeName(summary).constData(), 0640);
    ASSERT_TRUE(SaveTextToFile(summary, "<R/>"));
    EXPECT_EQ(modeOf(summary), 0640);

    // The mask the process had is back.
    const mode_t now = ::umask(022);
    ::umask(now);
    EXPECT_EQ(now, mode_t(0));
}

TEST_F(ArchiveSecurityTest, AnExistingArchiveKeepsItsModeWhenUpdated)
{
    const QString archive = tmp.filePath(QStringLiteral("old.zip"));
    ASSERT_TRUE(CompressFiles(files.mid(0, 1), archive, QString(ArchivePassword)));
    ::chmod(QFile::encodeName(archive).constData(), 0644);
    ASSERT_TRUE(CompressFiles(files.mid(1, 1), archive, QString(ArchivePassword)));
    EXPECT_EQ(modeOf(archive), 0644);
}

TEST_F(ArchiveSecurityTest, StrongArchiveRoundTripAndItsPassword)
{
    const QString password = QStringLiteral("Zhang-密码-2019");
    const QString archive = tmp.filePath(QStringLiteral("strong.zip"));
    ASSERT_TRUE(CompressFiles(files, archive, StrongProtection(password), nullptr, nullptr));
    EXPECT_EQ(ArchiveCipherOf(archive), ArchiveCipher::Aes256);
    EXPECT_EQ(ArchivePasswordFor(archive, password), std::optional<QString>(password));
    EXPECT_EQ(ArchivePasswordFor(archive, std::nullopt), std::nullopt);
    EXPECT_TRUE(VerifyBackupArchive(archive, files, password));

    // No member can be read in the clear: the personal data are not in the file's bytes.
    EXPECT_FALSE(readFile(archive).contains("110101199001011234"));

    QString error;
    UnpackProblem problem = UnpackProblem::None;
    const QString out = tmp.filePath(QStringLiteral("out"));
    ASSERT_TRUE(UncompressFile(archive, out, false, password, {}, &error, &problem)) << error.toStdString();
    expectUnpacked(out);

    // A wrong password and no password each say so, and write nothing.
    for (const std::optional<QString>& wrong :
         {std::optional<QString>(QStringLiteral("Zhang-密码-2018")), std::optional<QString>(QString(ArchivePassword)),
          std::optional<QString>()}) {
        const QString none = tmp.filePath(QStringLiteral("none"));
        EXPECT_FALSE(UncompressFile(archive, none, false, wrong, {}, &error, &problem));
        EXPECT_EQ(problem, UnpackProblem::WrongPassword) << error.toStdString();
        EXPECT_TRUE(QDir(none).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    EXPECT_FALSE(VerifyBackupArchive(archive, files, QString(ArchivePassword)));
}

TEST_F(ArchiveSecurityTest, DamageInAStrongArchiveIsNotAWrongPassword)
{
    const QString archive = tmp.filePath(QStringLiteral("strong.zip"));
    ASSERT_TRUE(CompressFiles(files, archive, StrongProtection(QStringLiteral("right password")), nullptr, nullptr));
    QByteArray bytes = readFile(archive);
    // The first member's data start after its local header (30 bytes, the name, the AES extra
    // field) and the salt and check bytes; a byte in the middle of its data is flipped.
    const int dataAt = 30 + int(qstrlen("ZCGZXJMXB_201903.dat")) + 11 + 16 + 2;
    bytes[dataAt + 40] = char(bytes[dataAt + 40] ^ 0x55);
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    QString error;
    UnpackProblem problem = UnpackProblem::None;
    EXPECT_FALSE(UncompressFile(archive, tmp.filePath(QStringLiteral("out")), false, QStringLiteral("right password"),
                                {}, &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Unreadable) << error.toStdString();
}

TEST_F(ArchiveSecurityTest, SevenZipOpensAStrongArchiveWithItsPasswordOnly)
{
    const QString password = QStringLiteral("Zhang-密码-2019");
    const QString archive = tmp.filePath(QStringLiteral("strong.zip"));
    ASSERT_TRUE(CompressFiles(files, archive, StrongProtection(password), nullptr, nullptr));
    const Tool listing = run7z({QStringLiteral("l"), QStringLiteral("-slt"), archive});
    ASSERT_EQ(listing.exitCode, 0) << listing.output.toStdString();
    EXPECT_EQ(listing.output.count("Method = AES-256 Deflate"), files.size());

    const QString out = tmp.filePath(QStringLiteral("7z"));
    const Tool good = run7z({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-p") + password,
                             QStringLiteral("-o") + out, archive});
    ASSERT_EQ(good.exitCode, 0) << good.output.toStdString();
    expectUnpacked(out);

    const QString refused = tmp.filePath(QStringLiteral("7z-refused"));
    const Tool bad = run7z({QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-p") + QString(ArchivePassword),
                            QStringLiteral("-o") + refused, archive});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_TRUE(bad.output.contains("Wrong password")) << bad.output.toStdString();
}

TEST(StrongPassword, ShortOrMultiLinePasswordsAreRefused)
{
    EXPECT_FALSE(StrongPasswordProblem(QStringLiteral("1234567")).isEmpty());
    EXPECT_TRUE(StrongPasswordProblem(QStringLiteral("12345678")).isEmpty());
    EXPECT_TRUE(StrongPasswordProblem(QStringLiteral("八个汉字的密码啊")).isEmpty());
    EXPECT_FALSE(StrongPasswordProblem(QStringLiteral("line one\nline two")).isEmpty());
}

} // namespace
