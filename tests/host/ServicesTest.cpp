// SPDX-License-Identifier: MIT
// The services of libModuleLib.so as a module sees them: GBK texts through the C ABI.
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>

using namespace sjql;
using namespace sjql::host;

namespace {

QByteArray gbk(const QString& text)
{
    return toGbk(text);
}

QString text(const char* gbkText)
{
    return fromGbk(gbkText);
}

QByteArray readAll(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ServicesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        resetState();
        state().homeDir = home.path();
        setBoxScript(nullptr);
        clearShownBoxes();
    }
    void TearDown() override
    {
        setBoxScript(nullptr);
        clearShownBoxes();
        resetState();
    }
    QTemporaryDir home;
};

TEST_F(ServicesTest, FoldersEndWithTheSeparatorAndFollowTheLayout)
{
    EXPECT_EQ(text(GetSubAppPath("03")), home.path() + QStringLiteral("/Apps/03/"));
    EXPECT_EQ(text(GetCurSubAppPath()), home.path() + QStringLiteral("/Apps/16/"));
    EXPECT_STREQ(GetCurSubAppCode(), "16");
    EXPECT_STREQ(GetCurFuncCode(), "160101");
    EXPECT_EQ(text(GetSubAppUserConfigFile("16")), home.path() + QStringLiteral("/Users/admin/16.ini"));
    EXPECT_TRUE(text(GetAppPath()).endsWith(QLatin1Char('/')));
}

TEST_F(ServicesTest, ReturnedTextsStayUntilTheSameFunctionIsCalledAgain)
{
    const char* a = GetSubAppPath("03");
    const QByteArray copy(a);
    (void)GetSubAppUserConfigFile("16");
    (void)GetCurSubAppPath();
    EXPECT_EQ(QByteArray(a), copy); // other functions keep their own buffers
}

TEST_F(ServicesTest, HandlesAreZeroWithoutWindowsAndTheWidgetsIdOtherwise)
{
    EXPECT_EQ(GetMainFrameHandle(), 0u);
    EXPECT_EQ(GetAppHandle(), 0u);
    QWidget frame;
    state().mainFrame = &frame;
    EXPECT_EQ(GetMainFrameHandle(), SjqlWindowHandle(frame.winId()));
    EXPECT_NE(GetCurSubAppInfo(), nullptr);
    EXPECT_NE(GetUserInfoVO(), nullptr);
    EXPECT_NE(GetCompanyInfoVO(), nullptr);
}

TEST_F(ServicesTest, ValueObjectCarriesTextsAsGbkInListOrder)
{
    int connection = 0;
    state().valueObject = {
        {QStringLiteral("QVR_KJYWRBM"), VoEntry::Text, QStringLiteral("91110100MA0001"), false, nullptr},
        {QStringLiteral("QVR_DKDJINITERROR"), VoEntry::Text, QStringLiteral("未启用"), false, nullptr},
        {QStringLiteral("QVR_DKDJENABLE"), VoEntry::Bool, QString(), true, nullptr},
        {QStringLiteral("QVR_DKDJADOConnection"), VoEntry::Object, QString(), false, &connection},
    };
    const SjqlValueObject* vo = GetCurSubAppVo();
    ASSERT_EQ(vo->count, 4);
    EXPECT_STREQ(vo->entries[0].name, "QVR_KJYWRBM");
    EXPECT_EQ(vo->entries[0].kind, SJQL_VO_TEXT);
    EXPECT_STREQ(vo->entries[0].text, "91110100MA0001");
    EXPECT_EQ(QByteArray(vo->entries[1].text), gbk(QStringLiteral("未启用")));
    EXPECT_EQ(vo->entries[2].kind, SJQL_VO_BOOL);
    EXPECT_EQ(vo->entries[2].flag, 1);
    EXPECT_EQ(vo->entries[3].kind, SJQL_VO_OBJECT);
    EXPECT_EQ(vo->entries[3].object, &connection);
    // The previous answer stays readable across one more call.
    const SjqlValueObject* again = GetCurSubAppVo();
    EXPECT_STREQ(vo->entries[0].text, "91110100MA0001");
    EXPECT_EQ(again->count, 4);
}

TEST_F(ServicesTest, UserIniIsWrittenAsWindowsWritesItAndReadBack)
{
    const QByteArray file = GetSubAppUserConfigFile("16");
    EXPECT_EQ(IniFileIsExist(file.constData()), 0);
    EXPECT_STREQ(GetSubAppUserConfigParam("16", "SysConfig", "BFPATH", "none"), "none");

    const QByteArray folder = gbk(QStringLiteral("/数据/备份"));
    WriteIniValueString(file.constData(), "SysConfig", "BFPATH", folder.constData());
    WriteIniValueInt(file.constData(), "SysConfig", "HideNsr", 1);
    EXPECT_EQ(IniFileIsExist(file.constData()), 1);
    // Sections and keys without regard to case; the GBK bytes come back unchanged.
    EXPECT_EQ(QByteArray(GetSubAppUserConfigParam("16", "sysconfig", "bfpath", "")), folder);
    EXPECT_STREQ(GetSubAppUserConfigParam("16", "SysConfig", "HideNsr", "0"), "1");
    const QByteArray bytes = readAll(fromGbk(file.constData()));
    EXPECT_EQ(bytes, QByteArray("[SysConfig]\r\nBFPATH=") + folder + QByteArray("\r\nHideNsr=1\r\n"));

    // The user's own file.
    WriteIniValueString(text(GetSubAppUserConfigFile("User")).toUtf8().constData(), "User", "Name", "admin");
    EXPECT_STREQ(GetUserConfigParam("User", "Name", ""), "admin");
    EXPECT_STREQ(GetUserConfigParam("User", "Missing", "dflt"), "dflt");
}

TEST_F(ServicesTest, UserIniIsReadAsTheProfileFunctionsReadIt)
{
    const QByteArray file = GetSubAppUserConfigFile("03");
    const QString path = fromGbk(file.constData());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray folder = gbk(QStringLiteral("/数据/备份"));
    // A file edited by hand: a comment, a '#' line, a duplicate key, a quoted value, blanks, and
    // the section once more further down.
    const QByteArray before = "; edited by hand\n"
                              "[SYSCONFIG]\n"
                              "#HideNsr=1\n"
                              "  hidensr = 0 \n"
                              "HideNsr=1\n"
                              "BFPATH=" +
                              folder +
                              "\n"
                              "Quoted=\"x y\"\n"
                              "[SysConfig]\n"
                              "HideNsr=1\n"
                              "Later=1\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    EXPECT_STREQ(GetSubAppUserConfigParam("03", "SysConfig", "HideNsr", "?"), "0");
    EXPECT_STREQ(GetSubAppUserConfigParam("03", "SysConfig", "#HideNsr", "?"), "1");
    EXPECT_EQ(QByteArray(GetSubAppUserConfigParam("03", "SysConfig", "BFPATH", "")), folder);
    EXPECT_STREQ(GetSubAppUserConfigParam("03", "SysConfig", "Quoted", ""), "x y");
    EXPECT_STREQ(GetSubAppUserConfigParam("03", "SysConfig", "Later", "none"), "none");

    // The switch writes the key it reads; every other line stays as it was.
    WriteIniValueInt(file.constData(), "SysConfig", "HideNsr", 1);
    EXPECT_STREQ(GetSubAppUserConfigParam("03", "SysConfig", "HideNsr", "?"), "1");
    QByteArray expected = before;
    expected.replace("  hidensr = 0 \n", "hidensr=1\r\n");
    EXPECT_EQ(readAll(path), expected);
}

TEST_F(ServicesTest, GetMsgPutsTheParametersIn)
{
    const QByteArray params = gbk(QStringLiteral("202301")) + '\x01' + gbk(QStringLiteral("当月未申报"));
    EXPECT_EQ(text(GetMsg(14012004, params.constData(), 1)), QStringLiteral("所属期[202301]：当月未申报。"));
    const QByteArray two = QByteArray("2019") + '\x01' + gbk(QStringLiteral("/备份/2019.zip"));
    EXPECT_EQ(text(GetMsg(14012006, two.constData(), 1)),
              QStringLiteral("2019年度的数据已备份并清理，备份文件：/备份/2019.zip"));
    // A parameter holding "%2" is not filled again.
    const QByteArray tricky = QByteArray("%2") + '\x01' + QByteArray("x");
    EXPECT_EQ(text(GetMsg(14012005, tricky.constData(), 1)), QStringLiteral("所属期[%2]的数据清理失败：x"));
    // Every code of the cleanup and restore has a Chinese text of its own.
    for (int code = 14012001; code <= 14012021; ++code) {
        const QString t = text(GetMsg(code, "", 1));
        EXPECT_FALSE(t.isEmpty()) << code;
        EXPECT_FALSE(t.contains(QStringLiteral("未定义"))) << code;
        EXPECT_FALSE(t.contains(QLatin1Char('%'))) << code;
    }
    EXPECT_EQ(text(GetMsg(14012020, "", 1)), QStringLiteral("数据恢复完成，没有需要恢复的所属期。"));
    EXPECT_TRUE(text(GetMsg(99, "a", 1)).contains(QStringLiteral("99")));
}

TEST_F(ServicesTest, GetMsgCutsTheParametersAt255GbkBytesNeverInsideACharacter)
{
    // "A" then 200 two-byte characters: 401 bytes; the cut at 255 would split character 128.
    const QByteArray params = QByteArray("A") + gbk(QString(200, QChar(0x6570)));
    const QString t = text(GetMsg(14012009, params.constData(), 1));
    const QString expected = QStringLiteral("A") + QString(127, QChar(0x6570));
    EXPECT_EQ(t, catalogueText(14012009, params));
    EXPECT_TRUE(t.contains(QLatin1Char('[') + expected + QLatin1Char(']'))) << t.toStdString();
    // The second parameter lies beyond the cut: it is lost, as the 255-byte limit says.
    const QByteArray longFirst = QByteArray(260, 'x') + '\x01' + QByteArray("tail");
    const QString cut = text(GetMsg(14012005, longFirst.constData(), 1));
    EXPECT_TRUE(cut.contains(QString(255, QLatin1Char('x'))));
    EXPECT_FALSE(cut.contains(QStringLiteral("tail")));
}

TEST_F(ServicesTest, BoxesAreRecordedAndAnsweredByTheScript)
{
    setBoxScript([](const ShownBox& box) { return box.kind == ShownBox::Confirm; });
    const QByteArray question = gbk(QStringLiteral("确定吗？"));
    EXPECT_EQ(ConfirmMsgBoxA(question.constData(), 0), 1);
    InfoMsgBox(gbk(QStringLiteral("完成")).constData(), 0);
    InforMsg(14012001, "", 1);
    ASSERT_EQ(shownBoxes().size(), 3u);
    EXPECT_EQ(shownBoxes()[0].kind, ShownBox::Confirm);
    EXPECT_EQ(shownBoxes()[0].text, QStringLiteral("确定吗？"));
    EXPECT_EQ(shownBoxes()[1].text, QStringLiteral("完成"));
    EXPECT_EQ(shownBoxes()[2].text, catalogueTemplate(14012001));
    setBoxScript([](const ShownBox&) { return false; });
    EXPECT_EQ(ConfirmMsgBoxA(question.constData(), 0), 0);
}

TEST_F(ServicesTest, SkinColoursAndSetSkinSchemeCtrls)
{
    EXPECT_EQ(gclModuleBackColor(), 0xF9F3ECu);
    EXPECT_EQ(giSysFontCharSet(), 134);
    state().sysFontColor = 0x0000FF; // red in COLORREF
    state().sysFontSize = 11;
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("清理数据"), &window);
    SetSkinSchemeCtrls(&window);
    EXPECT_EQ(button->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
    EXPECT_EQ(button->palette().color(QPalette::Button), fromColorRef(state().moduleToolBarColor));
    EXPECT_EQ(button->font().pointSize(), 11);
    // A skin change reaches the control again.
    state().sysFontColor = 0x00FF00;
    SetSkinSchemeCtrls(&window);
    EXPECT_EQ(button->palette().color(QPalette::ButtonText), QColor(0, 255, 0));
}

} // namespace
