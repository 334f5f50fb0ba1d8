// SPDX-License-Identifier: MIT
// GetParamValue, the configuration getters and the coded error texts.
#include "context/ErrorText.h"
#include "context/ModuleContext.h"
#include "context/ParamText.h"
#include "helpers/ReadOnlyFolder.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "support/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;
using namespace sjql::host;

namespace {

VoEntry textEntry(const QString& name, const QString& value)
{
    VoEntry e;
    e.name = name;
    e.text = value;
    return e;
}

VoEntry boolEntry(const QString& name, bool flag)
{
    VoEntry e;
    e.name = name;
    e.kind = VoEntry::Bool;
    e.flag = flag;
    return e;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// --- GetParamValue -------------------------------------------------------------------------------

TEST(GetParamValue, FindsTheValueAndUnescapesIt)
{
    EXPECT_EQ(GetParamValue(QStringLiteral("ModalFormMsg=a&eq%b&lim%c"), QStringLiteral("ModalFormMsg")),
              QStringLiteral("a=b;c"));
    EXPECT_EQ(GetParamValue(QStringLiteral("x=1;ModalFormMsg=历史;y=2"), QStringLiteral("ModalFormMsg")),
              QStringLiteral("历史"));
    // "&eq%" is replaced before "&lim%", each everywhere.
    EXPECT_EQ(GetParamValue(QStringLiteral("k=&eq%&eq%&lim%"), QStringLiteral("k")), QStringLiteral("==;"));
    // The value is everything after the first "=".
    EXPECT_EQ(GetParamValue(QStringLiteral("k=a=b"), QStringLiteral("k")), QStringLiteral("a=b"));
}

TEST(GetParamValue, KeysAreCaseExact)
{
    EXPECT_EQ(GetParamValue(QStringLiteral("modalformmsg=x"), QStringLiteral("ModalFormMsg")), QString());
}

TEST(GetParamValue, EmptyValuesArePassedOver)
{
    EXPECT_EQ(GetParamValue(QStringLiteral("ModalFormMsg=;ModalFormMsg=y"), QStringLiteral("ModalFormMsg")),
              QStringLiteral("y"));
    EXPECT_EQ(GetParamValue(QStringLiteral("ModalFormMsg="), QStringLiteral("ModalFormMsg")), QString());
}

TEST(GetParamValue, ItemsWithoutEqualsOrAMissingNameGiveNothing)
{
    EXPECT_EQ(GetParamValue(QStringLiteral("ModalFormMsg;other=1"), QStringLiteral("ModalFormMsg")), QString());
    EXPECT_EQ(GetParamValue(QString(), QStringLiteral("a")), QString());
    EXPECT_EQ(GetParamValue(QStringLiteral("=v"), QString()), QString());
    // The host library's result text.
    EXPECT_EQ(GetParamValue(QStringLiteral("resultCode=1;resultMsg=已锁定&lim%不能清理"), QStringLiteral("resultMsg")),
              QStringLiteral("已锁定;不能清理"));
}

// --- Value object and configuration getters ------------------------------------------------------

class ContextTest : public ::testing::Test
{
protected:
    void SetUp() override { resetState(); }
    void TearDown() override
    {
        resetState();
        SetHostExeDirOverride(QString());
    }
};

TEST_F(ContextTest, NamesMatchWithoutRegardToCaseAndTheFirstEntryWins)
{
    state().valueObject = {textEntry(QStringLiteral("qvr_kjywrbm"), QStringLiteral("A1")),
                           textEntry(QStringLiteral("QVR_KJYWRBM"), QStringLiteral("A2")),
                           boolEntry(QStringLiteral("qvr_dkdjenable"), true)};
    EXPECT_EQ(GetAgentCode(), QStringLiteral("A1"));
    EXPECT_EQ(GetVoString(QStringLiteral("Qvr_KjYwRbM"), QStringLiteral("d")), QStringLiteral("A1"));
    EXPECT_TRUE(IsModuleEnabled()); // the enable entry stored in lower case still enables
}

TEST_F(ContextTest, MissingEntriesGiveTheDefaults)
{
    EXPECT_EQ(GetAgentCode(), QString());
    EXPECT_EQ(GetCurrentPeriod(), QString());
    EXPECT_EQ(GetHostConnection(), nullptr);
    EXPECT_EQ(GetDBTypeName(), QString());
    EXPECT_EQ(GetHostAppCode(), QString());
    EXPECT_FALSE(IsModuleEnabled());
    EXPECT_EQ(GetInitErrorText(), QString());
    EXPECT_EQ(GetVoString(QStringLiteral("X"), QStringLiteral("dflt")), QStringLiteral("dflt"));
    EXPECT_TRUE(GetVoBool(QStringLiteral("X"), true));
    int marker = 0;
    EXPECT_EQ(GetVoObject(QStringLiteral("X"), &marker), &marker);
}

TEST_F(ContextTest, EveryGetterReadsItsEntryAndAsksTheHostEachTime)
{
    struct FakeConnection : HostConnection
    {
        bool connected() const override { return true; }
        bool connect() override { return true; }
        void close() override {}
        bool beginTrans() override { return true; }
        bool commitTrans() override { return true; }
        bool rollbackTrans() override { return true; }
        bool inTransaction() const override { return false; }
        QString connectionString() const override { return QString(); }
        QSqlDatabase database() const override { return QSqlDatabase(); }
        QString lastError() const override { return QString(); }
    } connection;
    VoEntry cell;
    cell.name = QStringLiteral("QVR_DKDJADOConnection");
    cell.kind = VoEntry::Object;
    cell.object = static_cast<HostConnection*>(&connection);
    state().valueObject = {textEntry(QStringLiteral("QVR_KJYWRBM"), QStringLiteral("91110100MA0001")),
                           textEntry(QStringLiteral("QVR_SDFY"), QStringLiteral("202406")),
                           cell,
                           textEntry(QStringLiteral("QVR_DKDJDBType"), QStringLiteral("sqlite")),
                           textEntry(QStringLiteral("QVR_DKDJAPPCODE"), QStringLiteral("03")),
                           boolEntry(QStringLiteral("QVR_DKDJENABLE"), false),
                           textEntry(QStringLiteral("QVR_DKDJINITERROR"), QStringLiteral("请升级"))};
    EXPECT_EQ(GetAgentCode(), QStringLiteral("91110100MA0001"));
    EXPECT_EQ(GetCurrentPeriod(), QStringLiteral("202406"));
    EXPECT_EQ(GetHostConnection(), &connection);
    EXPECT_EQ(GetDBKind(), dbkSQLite);
    EXPECT_EQ(GetHostAppCode(), QStringLiteral("03"));
    EXPECT_FALSE(IsModuleEnabled());
    EXPECT_EQ(GetInitErrorText(), QStringLiteral("请升级"));
    // Nothing is cached: a change in the host is seen at once.
    state().valueObject[5].flag = true;
    state().valueObject[0].text = QStringLiteral("OTHER");
    EXPECT_TRUE(IsModuleEnabled());
    EXPECT_EQ(GetAgentCode(), QStringLiteral("OTHER"));
}

TEST_F(ContextTest, ACellOfAnotherKindGivesTheDefault)
{
    state().valueObject = {boolEntry(QStringLiteral("QVR_SDFY"), true),
                           textEntry(QStringLiteral("QVR_DKDJENABLE"), QStringLiteral("1"))};
    EXPECT_EQ(GetVoString(QStringLiteral("QVR_SDFY"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_FALSE(IsModuleEnabled());
}

TEST_F(ContextTest, NonAsciiNamesAreComparedByteForByte)
{
    // GBK lead bytes that Latin-1 case folding would pair (0xC1/0xE1) must not match.
    state().valueObject = {textEntry(QStringLiteral("名称"), QStringLiteral("v"))};
    EXPECT_EQ(GetVoString(QStringLiteral("名称")), QStringLiteral("v"));
    EXPECT_EQ(GetVoString(QString(QChar(0x00E1))), QString());
}

TEST(DBKind, FromTheTypeName)
{
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("MSACCESS")), dbkAccess);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("msaccess")), dbkAccess);
    EXPECT_EQ(DBKindFromTypeName(QString()), dbkAccess);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("Paradox")), dbkAccess);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("MSDE")), dbkMSDE);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("msde")), dbkAccess); // upper case only
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("MsSqlServer")), dbkSQLServer);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("OrAcLe")), dbkOracle);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("mysql")), dbkMySQL);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("SQLITE")), dbkSQLite);
    EXPECT_EQ(DBKindFromTypeName(QStringLiteral("SQLite")), dbkSQLite);
    EXPECT_EQ(int(dbkSQLite), 5);
}

TEST(ModuleFolders, EndWithTheSeparator)
{
    EXPECT_TRUE(GetModuleDir().endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QDir(GetModuleDir()).exists());
    EXPECT_FALSE(GetHostExePath().isEmpty());
    EXPECT_TRUE(GetHostExePath().endsWith(QStringLiteral("test_entry_context")));
}

// --- FormatErrorText -----------------------------------------------------------------------------

class ErrorTextTest : public ContextTest
{
protected:
    void SetUp() override
    {
        ContextTest::SetUp();
        ASSERT_TRUE(exeDir.isValid());
        SetHostExeDirOverride(exeDir.path());
    }
    QString iniPath() const { return exeDir.path() + QStringLiteral("/SysConfig.ini"); }
    QTemporaryDir exeDir;
};

TEST_F(ErrorTextTest, WithoutTheFileTheBuiltInNumberIsUsed)
{
    EXPECT_EQ(
        FormatErrorText(QString::fromLatin1(kDbErrorCode)),
        QStringLiteral("[代码：80323110]系统处理异常，请联系服务商(%1)。").arg(QLatin1String(kDefaultSupportPhone)));
}

TEST_F(ErrorTextTest, TheNumberStandsAsStoredAndIsReadEveryTime)
{
    writeFile(iniPath(), "[SysCofig]\r\nSupportPhone=010 1234 5678\r\n");
    EXPECT_EQ(FormatErrorText(QStringLiteral("80323110")),
              QStringLiteral("[代码：80323110]系统处理异常，请联系服务商(010 1234 5678)。"));
    writeFile(iniPath(), QByteArray("[SysCofig]\r\nSupportPhone=") + toGbk(QStringLiteral("客服热线12366")) + "\r\n");
    EXPECT_EQ(FormatErrorText(QStringLiteral("1")),
              QStringLiteral("[代码：1]系统处理异常，请联系服务商(客服热线12366)。"));
}

TEST_F(ErrorTextTest, TheCorrectlySpelledSectionIsNotRead)
{
    writeFile(iniPath(), "[SysConfig]\r\nSupportPhone=999\r\n");
    EXPECT_TRUE(FormatErrorText(QStringLiteral("80323110")).endsWith(QStringLiteral("(400-889-0123)。")));
    writeFile(iniPath(), "[SysCofig]\r\nOther=1\r\n");
    EXPECT_TRUE(FormatErrorText(QStringLiteral("80323110")).endsWith(QStringLiteral("(400-889-0123)。")));
}

TEST_F(ErrorTextTest, TheEnvironmentSeamNamesTheFolderToo)
{
    SetHostExeDirOverride(QString());
    QTemporaryDir other;
    writeFile(other.path() + QStringLiteral("/SysConfig.ini"), "[SysCofig]\nSupportPhone=12366\n");
    qputenv("SJQL_HOST_EXE_DIR", QFile::encodeName(other.path()));
    EXPECT_EQ(GetHostExeDir(), other.path() + QLatin1Char('/'));
    EXPECT_TRUE(FormatErrorText(QStringLiteral("80323110")).endsWith(QStringLiteral("(12366)。")));
    qunsetenv("SJQL_HOST_EXE_DIR");
    EXPECT_NE(GetHostExeDir(), other.path() + QLatin1Char('/'));
}

// An installed host's folder is read-only: its SysConfig.ini lives in the user's configuration
// folder, and one that an administrator put beside the executable still comes first.
TEST_F(ErrorTextTest, AnInstalledHostsNumberComesFromTheUsersConfigurationFolder)
{
    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.path()));
    const QString userIni = GetUserConfigDir() + QStringLiteral("SysConfig.ini");
    EXPECT_TRUE(userIni.startsWith(xdg.path() + QLatin1Char('/')));
    ASSERT_TRUE(QDir().mkpath(GetUserConfigDir()));
    writeFile(userIni, "[SysCofig]\r\nSupportPhone=12366-user\r\n");
    {
        test::ReadOnlyFolder readOnly(exeDir.path());
        ASSERT_TRUE(readOnly.holds());
        EXPECT_FALSE(IsFolderWritable(exeDir.path()));
        EXPECT_EQ(GetSysConfigIniPath(), userIni);
        EXPECT_TRUE(FormatErrorText(QStringLiteral("80323110")).endsWith(QStringLiteral("(12366-user)。")));
    }
    EXPECT_TRUE(IsFolderWritable(exeDir.path()));
    writeFile(iniPath(), "[SysCofig]\r\nSupportPhone=12366-host\r\n");
    EXPECT_EQ(GetSysConfigIniPath(), iniPath());
    EXPECT_TRUE(FormatErrorText(QStringLiteral("80323110")).endsWith(QStringLiteral("(12366-host)。")));
    // The probes leave nothing behind.
    EXPECT_EQ(QDir(exeDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("SysConfig.ini")});
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(ErrorTextTest, ReadIniStringOpensReadsAndCloses)
{
    writeFile(iniPath(), QByteArray("[A]\r\nk=") + toGbk(QStringLiteral("值")) + "\r\n");
    EXPECT_EQ(ReadIniString(iniPath(), QStringLiteral("a"), QStringLiteral("K"), QStringLiteral("d")),
              QStringLiteral("值"));
    EXPECT_EQ(ReadIniString(iniPath(), QStringLiteral("A"), QStringLiteral("none"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(ReadIniString(exeDir.path() + QStringLiteral("/missing.ini"), QStringLiteral("A"), QStringLiteral("k"),
                            QStringLiteral("d")),
              QStringLiteral("d"));
}

// --- IniFile ---------------------------------------------------------------------------------------

TEST(IniFile, WritesWindowsProfileBytesAndKeepsGbk)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/t.ini");
    IniFile ini;
    ASSERT_TRUE(ini.load(path)); // missing: empty
    const QByteArray gbkValue = toGbk(QStringLiteral("备份€"));
    ini.setValue("SysConfig", "BFPATH", gbkValue);
    ini.setValue("SysConfig", "HideNsr", "0");
    ASSERT_TRUE(ini.save(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[SysConfig]\r\nBFPATH=") + gbkValue + "\r\nHideNsr=0\r\n");
    IniFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.value("SYSCONFIG", "bfpath"), gbkValue);
    EXPECT_TRUE(again.contains("sysconfig", "HIDENSR"));
    EXPECT_FALSE(again.contains("sysconfig", "other"));
}

} // namespace
