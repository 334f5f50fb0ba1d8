// SPDX-License-Identifier: MIT
#include "jobs/BackupSummary.h"

#include "support/XmlDocument.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int runTool(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A year as the backup run records it: months 01 and 03 cleared, 02 refused (no declaration).
QString sampleRecords()
{
    QString records;
    records = AppendBackupRecord(records, QStringLiteral("Y"), QStringLiteral("201901"), QStringLiteral("D-1001"));
    records = AppendBackupRecord(records, QStringLiteral("N"), QStringLiteral("201902"), QString());
    records = AppendBackupRecord(records, QStringLiteral("Y"), QStringLiteral("201903"), QStringLiteral("D-1003"));
    return records;
}

TEST(BackupSummary, GoldenBytes)
{
    // 测试 in GBK as the agent code, to see the code page at work.
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"GBK\" ?>"
        "<QVRBFXX KJYWRBM=\"3101\xb2\xe2\xca\xd4\"  YEAR=\"2019\"  CODE=\"03\"><RECORDS>"
        "<RECORD SDYF=\"201901\" WYSBH=\"D-1001\" SFQL=\"Y\" GZFILENAME=\"ZCGZXJMXB_201901.dat\" "
        "FGZFILENAME=\"FGZXJB_201901.dat\"  BGBFILENAME=\"KJSDSBGB_201901.dat\" />"
        "<RECORD SDYF=\"201902\" WYSBH=\"\" SFQL=\"N\" GZFILENAME=\"\" FGZFILENAME=\"\"  BGBFILENAME=\"\" />"
        "<RECORD SDYF=\"201903\" WYSBH=\"D-1003\" SFQL=\"Y\" GZFILENAME=\"ZCGZXJMXB_201903.dat\" "
        "FGZFILENAME=\"FGZXJB_201903.dat\"  BGBFILENAME=\"KJSDSBGB_201903.dat\" />"
        "</RECORDS></QVRBFXX>";
    EXPECT_EQ(
        BuildBackupSummary(QStringLiteral("2019"), sampleRecords(), QStringLiteral("3101测试"), QStringLiteral("03")),
        expected);
    // Any flag other than "Y" is written as given, without file names.
    EXPECT_EQ(
        AppendBackupRecord(QStringLiteral("<X/>"), QStringLiteral("?"), QStringLiteral("201904"), QStringLiteral("7")),
        QStringLiteral("<X/><RECORD SDYF=\"201904\" WYSBH=\"7\" SFQL=\"?\" GZFILENAME=\"\" FGZFILENAME=\"\"  "
                       "BGBFILENAME=\"\" />"));
}

class SummaryFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QTemporaryDir tmp;
};

TEST_F(SummaryFileTest, WritesIntoTheYearFolderAndListsItLast)
{
    const QString workDir = tmp.filePath(QStringLiteral("TMPBFMU"));
    const QString path = workDir + QStringLiteral("/2019/BFZYXX.xml");
    ASSERT_TRUE(QDir().mkpath(workDir + QStringLiteral("/2019")));
    {
        // A longer summary left by an earlier, interrupted run.
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(20000, 'x'));
    }
    QStringList files{workDir + QStringLiteral("/2019/ZCGZXJMXB_201901.dat")};
    QString error;
    ASSERT_TRUE(WriteBackupSummary(QStringLiteral("2019"), sampleRecords(), QStringLiteral("3101"),
                                   QStringLiteral("03"), workDir, files, &error))
        << error.toStdString();
    EXPECT_EQ(files, (QStringList{workDir + QStringLiteral("/2019/ZCGZXJMXB_201901.dat"), path}));
    EXPECT_EQ(readFile(path), BuildBackupSummary(QStringLiteral("2019"), sampleRecords(), QStringLiteral("3101"),
                                                 QStringLiteral("03")));

    // A file standing where the year folder should be: a message, and the list stays as it was.
    QFile blocker(tmp.filePath(QStringLiteral("blocked/2020")));
    ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("blocked"))));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(WriteBackupSummary(QStringLiteral("2020"), QString(), QStringLiteral("3101"), QStringLiteral("03"),
                                    tmp.filePath(QStringLiteral("blocked")), files, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("BFZYXX.xml"))) << error.toStdString();
    EXPECT_EQ(files.size(), 2);
}

TEST_F(SummaryFileTest, SpecialCharactersSurviveAStandardParser)
{
    // Values as a careless configuration may hold them.
    const QString agent = QStringLiteral("A&B<\"C\">'D'\t测试");
    const QString declaration = QStringLiteral("x\ny&amp;");
    QString records;
    for (int month = 1; month <= 12; ++month) {
        const QString period = QStringLiteral("2019%1").arg(month, 2, 10, QLatin1Char('0'));
        records =
            AppendBackupRecord(records, month % 2 ? QStringLiteral("Y") : QStringLiteral("N"), period, declaration);
    }
    QStringList files;
    QString error;
    ASSERT_TRUE(
        WriteBackupSummary(QStringLiteral("2019"), records, agent, QStringLiteral("03"), tmp.path(), files, &error));
    const QString path = files.value(0);
    const QByteArray bytes = readFile(path);
    EXPECT_FALSE(bytes.contains('\n'));
    EXPECT_FALSE(bytes.contains('\r'));

    QString output;
    EXPECT_EQ(runTool(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path}, &output), 0)
        << output.toStdString();
    // Python's expat has no GBK: decode first, then parse the text without its declaration.
    const QString script = QStringLiteral("import sys, xml.etree.ElementTree as ET\n"
                                          "text = open(sys.argv[1], 'rb').read().decode('gbk')\n"
                                          "r = ET.fromstring(text.split('?>', 1)[1])\n"
                                          "sys.stdout.buffer.write(r.get('KJYWRBM').encode('utf-8'))\n");
    ASSERT_EQ(runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script, path}, &output), 0)
        << output.toStdString();
    EXPECT_EQ(output, agent);

    // The restore's reader sees exactly the values that went in, in month order.
    auto doc = XmlDocument::fromFile(path, &error);
    ASSERT_TRUE(doc) << error.toStdString();
    XmlNode root = doc->root();
    EXPECT_EQ(root.attribute(QStringLiteral("KJYWRBM")), agent);
    EXPECT_EQ(root.attribute(QStringLiteral("YEAR")), QStringLiteral("2019"));
    XmlNode list = root.childElement(QStringLiteral("RECORDS"));
    ASSERT_EQ(list.childCount(), 12);
    for (int i = 0; i < 12; ++i) {
        const XmlNode record = list.child(i);
        EXPECT_EQ(record.attribute(QStringLiteral("SDYF")),
                  QStringLiteral("2019%1").arg(i + 1, 2, 10, QLatin1Char('0')));
        EXPECT_EQ(record.attribute(QStringLiteral("WYSBH")), declaration);
        EXPECT_EQ(record.attribute(QStringLiteral("SFQL")), i % 2 ? QStringLiteral("N") : QStringLiteral("Y"));
        EXPECT_EQ(record.attribute(QStringLiteral("BGBFILENAME"))->isEmpty(), i % 2 == 1);
    }
}

} // namespace
