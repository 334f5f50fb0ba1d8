// SPDX-License-Identifier: MIT
// Members deflated ahead on the helper thread: packed as they are (libzip only encrypts them), read
// back byte for byte by libzip and by other zip tools, and never taken for a file that changed.
#include "archive/DeflateAhead.h"

#include "archive/ArchiveCheck.h"
#include "archive/CompressUnit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zip.h>

using namespace sjql;

namespace {

const QString Password = QString(ArchivePassword);

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A member's stored method, encryption and compressed size as the archive's directory gives them.
zip_stat_t memberStat(const QString& archive, const QString& name)
{
    zip_stat_t st;
    zip_stat_init(&st);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (z) {
        (void)zip_stat(z, name.toUtf8().constData(), 0, &st);
        zip_discard(z);
    }
    return st;
}

class DeflateAheadTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        // A data file's mix: much repetition, some varying numbers, bytes of every value.
        QByteArray wage;
        for (int i = 0; i < 60000; ++i)
            wage += "row " + QByteArray::number(i * 7919 % 100003) + " 工资 " + QByteArray(1, char(i & 0xFF));
        contents = {{QStringLiteral("ZCGZXJMXB_201903.dat"), wage},
                    {QStringLiteral("FGZXJB_201903.dat"), QByteArray()},
                    {QStringLiteral("BFZYXX.xml"), QByteArray("<?xml version=\"1.0\" encoding=\"GBK\" ?><Q/>")}};
        for (const auto& [name, bytes] : contents) {
            writeFile(tmp.filePath(name), bytes);
            files << tmp.filePath(name);
        }
        archive = tmp.filePath(QStringLiteral("out/2019.zip"));
        ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("out"))));
    }

    QTemporaryDir tmp;
    std::vector<std::pair<QString, QByteArray>> contents;
    QStringList files;
    QString archive;
};

} // namespace

TEST_F(DeflateAheadTest, DeflatedMembersArePackedAsTheyAreAndReadBackEverywhere)
{
    DeflateAhead ahead;
    ahead.add({files[0], files[1]}); // the summary is left to libzip, as in a backup
    ahead.waitIdle();
    const DeflatedFile* wage = ahead.take(files[0]);
    ASSERT_NE(wage, nullptr);
    EXPECT_EQ(wage->size, quint64(contents[0].second.size()));
    EXPECT_LT(wage->compressed, quint64(contents[0].second.size() / 2));

    QString error;
    ASSERT_TRUE(CompressFiles(files, archive, Password, &ahead, &error)) << error.toStdString();
    EXPECT_TRUE(VerifyBackupArchive(archive, files, Password, &error)) << error.toStdString();

    // Taken as deflated: the stored bytes are the helper's stream behind the 12-byte cipher header.
    const zip_stat_t st = memberStat(archive, QStringLiteral("ZCGZXJMXB_201903.dat"));
    EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
    EXPECT_EQ(st.encryption_method, ZIP_EM_TRAD_PKWARE);
    EXPECT_EQ(st.comp_size, wage->compressed + 12);
    EXPECT_EQ(st.size, zip_uint64_t(contents[0].second.size()));

    // Another zip tool unpacks the same bytes with the same password.
    const QString dest = tmp.filePath(QStringLiteral("unzipped"));
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-P"), Password, QStringLiteral("-o"), archive, QStringLiteral("-d"), dest});
    ASSERT_TRUE(unzip.waitForFinished(60000));
    ASSERT_EQ(unzip.exitCode(), 0) << unzip.readAll().toStdString();
    for (const auto& [name, bytes] : contents)
        EXPECT_EQ(readFile(QDir(dest).filePath(name)), bytes) << name.toStdString();
}

TEST_F(DeflateAheadTest, AFileChangedAfterDeflatingIsPackedFromItsNewBytes)
{
    DeflateAhead ahead;
    ahead.add(files);
    ahead.waitIdle();
    const QByteArray changed = contents[0].second + "one more row";
    writeFile(files[0], changed);
    EXPECT_EQ(ahead.take(files[0]), nullptr);

    QString error;
    ASSERT_TRUE(CompressFiles(files, archive, Password, &ahead, &error)) << error.toStdString();
    const QString dest = tmp.filePath(QStringLiteral("unpacked"));
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password, &error)) << error.toStdString();
    EXPECT_EQ(readFile(QDir(dest).filePath(QStringLiteral("ZCGZXJMXB_201903.dat"))), changed);
    EXPECT_EQ(readFile(QDir(dest).filePath(QStringLiteral("BFZYXX.xml"))), contents[2].second);
}

TEST_F(DeflateAheadTest, ClearedOrMissingFilesAreLeftToTheArchiver)
{
    DeflateAhead ahead;
    ahead.add({files[0], tmp.filePath(QStringLiteral("missing.dat"))});
    ahead.waitIdle();
    EXPECT_EQ(ahead.take(tmp.filePath(QStringLiteral("missing.dat"))), nullptr);
    EXPECT_NE(ahead.take(files[0]), nullptr);
    ahead.clear();
    EXPECT_TRUE(ahead.idle());
    EXPECT_EQ(ahead.take(files[0]), nullptr);
    EXPECT_EQ(ahead.take(files[2]), nullptr); // never queued

    // Files dropped again (a month that was not cleared after all) are not kept, whether they were
    // done, queued or being deflated; the others are.
    ahead.add(files);
    ahead.drop({files[0], files[1]});
    ahead.waitIdle();
    EXPECT_EQ(ahead.take(files[0]), nullptr);
    EXPECT_EQ(ahead.take(files[1]), nullptr);
    EXPECT_NE(ahead.take(files[2]), nullptr);
    ahead.drop({files[2]});
    EXPECT_EQ(ahead.take(files[2]), nullptr);
}
