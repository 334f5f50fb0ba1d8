// SPDX-License-Identifier: MIT
// Settings files read and written the way the Windows profile functions do it: the first of two
// equal keys and sections wins, names match without regard to ASCII case, ';' starts a comment
// line and '#' does not, a pair of quotes around a value is dropped, GBK bytes stay as they are.
#include "support/IniFile.h"

#include "hostapi/Gbk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

const QByteArray kMissing = "<missing>";

// The value `key` of `section` has in a file holding `text`, or kMissing.
QByteArray valueIn(const QByteArray& text, const QByteArray& section, const QByteArray& key)
{
    IniFile ini;
    EXPECT_TRUE(ini.loadData(text));
    return ini.contains(section, key) ? ini.value(section, key) : kMissing;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

TEST(IniRead, FirstOfTwoEqualKeysAndFirstOfTwoEqualSectionsWin)
{
    const QByteArray text = "[SysConfig]\r\nHideNsr=1\r\nhidensr=0\r\nBFPATH=/first\r\n"
                            "[Other]\r\nx=1\r\n"
                            "[SYSCONFIG]\r\nHideNsr=2\r\nOnlyHere=3\r\nBFPATH=/second\r\n";
    EXPECT_EQ(valueIn(text, "SysConfig", "HideNsr"), "1");
    EXPECT_EQ(valueIn(text, "SysConfig", "BFPATH"), "/first");
    // The second section of the same name is not read at all.
    EXPECT_EQ(valueIn(text, "SysConfig", "OnlyHere"), kMissing);
    EXPECT_EQ(valueIn(text, "Other", "x"), "1");
}

TEST(IniRead, SemicolonLinesAreCommentsHashLinesAreKeys)
{
    const QByteArray text = "[S]\r\n"
                            ";SupportPhone=111\r\n"
                            "  \t;Indented=222\r\n"
                            "#SupportPhone=333\r\n"
                            "SupportPhone=444 ;not a comment\r\n"
                            "Value=;leading semicolon\r\n"
                            "Hash=#not a comment\r\n";
    EXPECT_EQ(valueIn(text, "S", ";SupportPhone"), kMissing);
    EXPECT_EQ(valueIn(text, "S", "Indented"), kMissing);
    EXPECT_EQ(valueIn(text, "S", "#SupportPhone"), "333");
    EXPECT_EQ(valueIn(text, "S", "SupportPhone"), "444 ;not a comment");
    EXPECT_EQ(valueIn(text, "S", "Value"), ";leading semicolon");
    EXPECT_EQ(valueIn(text, "S", "Hash"), "#not a comment");
    // A section whose name starts with ';' is a section, not a comment.
    EXPECT_EQ(valueIn("[;S]\r\nk=v\r\n", ";S", "k"), "v");
}

TEST(IniRead, APairOfQuotesAroundAValueIsDropped)
{
    const QByteArray text = "[S]\r\nDouble=\"400 800\"\r\nSingle='x'\r\nPadded=  \"a\"  \r\n\"Key\"=q\r\n"
                            "Mixed=\"x'\r\nOne=\"\r\nInside=a\"b\"\r\nEmpty=\"\"\r\n";
    EXPECT_EQ(valueIn(text, "S", "Double"), "400 800");
    EXPECT_EQ(valueIn(text, "S", "Single"), "x");
    EXPECT_EQ(valueIn(text, "S", "Padded"), "a");
    EXPECT_EQ(valueIn(text, "S", "Mixed"), "\"x'");
    EXPECT_EQ(valueIn(text, "S", "One"), "\"");
    EXPECT_EQ(valueIn(text, "S", "Inside"), "a\"b\"");
    EXPECT_EQ(valueIn(text, "S", "Empty"), "");
    EXPECT_EQ(valueIn(text, "S", "\"Key\""), "q");
    EXPECT_EQ(valueIn(text, "S", "Key"), kMissing);
}

TEST(IniRead, NamesMatchWithoutRegardToAsciiCaseOnly)
{
    EXPECT_EQ(valueIn("[SysCofig]\r\nSupportPhone=1\r\n", "syscofig", "SUPPORTPHONE"), "1");
    // "SysCofig" is not "SysConfig": the names are compared, not guessed.
    EXPECT_EQ(valueIn("[SysCofig]\r\nSupportPhone=1\r\n", "SysConfig", "SupportPhone"), kMissing);
    // The values keep their case.
    EXPECT_EQ(valueIn("[s]\r\nk=MiXeD\r\n", "S", "K"), "MiXeD");
    // GBK: the trailing byte of a two-byte character is no letter. 0x8141 and 0x8161 are two
    // different characters although 0x41 and 0x61 are 'A' and 'a'.
    const QByteArray upper = QByteArray("\x81\x41");
    const QByteArray lower = QByteArray("\x81\x61");
    ASSERT_NE(fromGbk(QByteArrayView(upper)), fromGbk(QByteArrayView(lower)));
    const QByteArray text = "[" + upper + "]\r\n" + upper + "=upper\r\n[" + lower + "]\r\n" + lower + "=lower\r\n";
    EXPECT_EQ(valueIn(text, upper, upper), "upper");
    EXPECT_EQ(valueIn(text, lower, lower), "lower");
    EXPECT_EQ(valueIn(text, upper, lower), kMissing);
}

TEST(IniRead, BlanksAroundNamesAndValuesAreTrimmed)
{
    const QByteArray text = "  [  Sys Config \t]  trailing text\r\n"
                            " \t Back Up  =  /data/my backups \t \r\n"
                            "Empty=\r\n"
                            "Blank=   \r\n";
    EXPECT_EQ(valueIn(text, "Sys Config", "Back Up"), "/data/my backups");
    EXPECT_EQ(valueIn(text, "Sys Config", "Empty"), "");
    EXPECT_EQ(valueIn(text, "Sys Config", "Blank"), "");
    // Blanks around the names asked for count for nothing either.
    EXPECT_EQ(valueIn(text, " Sys Config ", " Back Up "), "/data/my backups");
}

TEST(IniRead, LinesOutsideAnySectionOrWithoutEqualsSign)
{
    const QByteArray text = "Orphan=1\r\n"
                            "[S]\r\n"
                            "JustAName\r\n"
                            "k=v=w\r\n"
                            "[Unclosed\r\n"
                            "u=1\r\n";
    // Keys before the first section belong to no section anyone can ask for.
    EXPECT_EQ(valueIn(text, "", "Orphan"), kMissing);
    // A line without '=' is a key without a value.
    EXPECT_EQ(valueIn(text, "S", "JustAName"), "");
    // The first '=' divides name and value.
    EXPECT_EQ(valueIn(text, "S", "k"), "v=w");
    // A section line without its closing bracket ends at the end of the line.
    EXPECT_EQ(valueIn(text, "Unclosed", "u"), "1");
}

TEST(IniRead, LineEndsOfEveryKind)
{
    EXPECT_EQ(valueIn("[S]\r\nk=crlf\r\nl=1", "S", "k"), "crlf");
    EXPECT_EQ(valueIn("[S]\nk=lf\nl=1\n", "S", "k"), "lf");
    EXPECT_EQ(valueIn("[S]\rk=cr\rl=1", "S", "k"), "cr");
    // The last line needs no line end.
    EXPECT_EQ(valueIn("[S]\r\nl=1", "S", "l"), "1");
}

TEST(IniRead, MissingOrUnreadableFileGivesTheDefaultAndGbkIsDecoded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing.ini"));
    EXPECT_EQ(readIniText(missing, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    IniFile empty;
    EXPECT_TRUE(empty.load(missing));
    EXPECT_FALSE(empty.contains("S", "k"));
    // A folder where the file should be cannot be read: the default stands.
    EXPECT_FALSE(empty.load(dir.path()));
    EXPECT_EQ(readIniText(dir.path(), QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));

    const QString file = dir.filePath(QStringLiteral("SysConfig.ini"));
    const QByteArray phone = toGbk(QStringLiteral("客服 400-800-1234 转 €"));
    ASSERT_TRUE(writeFile(file, "[SysCofig]\r\nSupportPhone=" + phone + "\r\n[节]\r\n键=值\r\n"));
    EXPECT_EQ(readIniText(file, QStringLiteral("SysCofig"), QStringLiteral("SupportPhone"), QString()),
              QStringLiteral("客服 400-800-1234 转 €"));
    EXPECT_EQ(readIniText(file, QStringLiteral("SysCofig"), QStringLiteral("Missing"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    // Names in UTF-8 are other bytes than names asked for in GBK.
    EXPECT_EQ(readIniText(file, QStringLiteral("节"), QStringLiteral("键"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
}

TEST(IniWrite, NewFileIsWrittenAsWindowsWritesIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("16.ini"));
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    const QByteArray folder = toGbk(QStringLiteral("/数据/备份"));
    ini.setValue("SysConfig", "BFPATH", folder);
    ini.setValue("SysConfig", "HideNsr", "1");
    ini.setValue("Other", "x", "2");
    ASSERT_TRUE(ini.save(path));
    EXPECT_EQ(fileBytes(path), "[SysConfig]\r\nBFPATH=" + folder + "\r\nHideNsr=1\r\n[Other]\r\nx=2\r\n");
}

TEST(IniWrite, ChangesTheKeyTheReaderReadsAndKeepsEveryOtherLine)
{
    // Comments, a '#' line, a duplicate key and a duplicate section, LF line ends, odd spacing.
    const QByteArray before = "; per-user settings\n"
                              "[sysconfig]\n"
                              "#HideNsr=9\n"
                              "  HIDENSR = 0 \n"
                              "HideNsr=7\n"
                              "BFPATH=/old\n"
                              "\n"
                              "[Other]\n"
                              "x=1\n"
                              "[SysConfig]\n"
                              "HideNsr=8\n";
    IniFile ini;
    ASSERT_TRUE(ini.loadData(before));
    ini.setValue("SysConfig", "HideNsr", "1");
    EXPECT_EQ(ini.value("SysConfig", "HideNsr"), "1");
    // The first such key is rewritten in place with its own spelling; nothing else moves.
    QByteArray expected = before;
    expected.replace("  HIDENSR = 0 \n", "HIDENSR=1\r\n");
    EXPECT_EQ(ini.toBytes(), expected);

    // A new key goes after the last key of the first such section, before its blank line.
    ini.setValue("SYSCONFIG", "LastYear", "2019");
    expected.replace("BFPATH=/old\n", "BFPATH=/old\nLastYear=2019\r\n");
    EXPECT_EQ(ini.toBytes(), expected);
    EXPECT_EQ(ini.value("SysConfig", "LastYear"), "2019");

    // A new section goes at the end, after a line end the file lacked.
    IniFile open;
    ASSERT_TRUE(open.loadData("[A]\r\nk=1"));
    open.setValue("B", "k", "2");
    EXPECT_EQ(open.toBytes(), "[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
}

TEST(IniWrite, SavedFileReadsBackAndReplacesTheOldOneWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    ASSERT_TRUE(writeFile(path, "[S]\r\nk=old\r\n"));
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    ini.setValue("S", "k", "new");
    ASSERT_TRUE(ini.save(path));
    EXPECT_EQ(fileBytes(path), "[S]\r\nk=new\r\n");
    // A folder that is not there cannot take the file: false, and nothing appears.
    const QString nowhere = dir.filePath(QStringLiteral("no/such/folder/t.ini"));
    EXPECT_FALSE(ini.save(nowhere));
    EXPECT_FALSE(QFile::exists(nowhere));
}

} // namespace
