// SPDX-License-Identifier: MIT
// The abnormal-taxpayer switch of the cleanup window, with the host's real decryption library
// copied into a temporary installation.
#include "host/services/HostServicesAdmin.h"
#include "hostapi/CryptZelpDes.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "ui/ImageButton.h"
#include "window/f_sjqlMgr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace sjql;

namespace {

const QString kBuiltLibrary = QStringLiteral(SJQL_BINARY_DIR "/bin/" SJQL_DECRYPT_LIBRARY_NAME);

// Encrypts a plain file with the library the host ships; the library is unloaded again at once so
// that only the window's own load can be seen afterwards.
bool encryptFile(const QString& plain, const QString& encrypted, const char* password)
{
    QLibrary lib(kBuiltLibrary);
    using Encrypt = unsigned char (*)(const char*, const char*, const char*);
    auto encrypt = reinterpret_cast<Encrypt>(lib.resolve("CommonEncryptFile"));
    if (!encrypt)
        return false;
    const QByteArray in = toGbk(plain), out = toGbk(encrypted);
    const bool ok = encrypt(in.constData(), out.constData(), password) != 0;
    lib.unload();
    return ok;
}

bool mapped(const QString& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(path));
}

class HideNsrTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host::resetState();
        ASSERT_TRUE(home.isValid());
        host::state().homeDir = home.path() + QLatin1Char('/');
        host::VoEntry code;
        code.name = QStringLiteral("QVR_DKDJAPPCODE");
        code.text = QStringLiteral("03");
        host::state().valueObject.push_back(code);
        host::setBoxScript([](const host::ShownBox&) { return true; });
        appFolder = host::subAppPath(QStringLiteral("03"));
        ASSERT_TRUE(QDir().mkpath(appFolder));
    }
    void TearDown() override
    {
        window.reset();
        host::setBoxScript(nullptr);
        host::resetState();
    }

    void installLibrary() { ASSERT_TRUE(QFile::copy(kBuiltLibrary, libraryPath())); }
    void installSettings(const QByteArray& plainIni, const char* password = "wqpt1987")
    {
        const QString plain = home.filePath(QStringLiteral("plain.ini"));
        QFile f(plain);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(plainIni);
        f.close();
        ASSERT_TRUE(encryptFile(plain, appFolder + QStringLiteral("sysconfig.dat"), password));
    }
    void storeHideNsr(const char* value)
    {
        const QByteArray file = toGbk(host::subAppUserConfigFile(QStringLiteral("03")));
        WriteIniValueString(file.constData(), "SysConfig", "HideNsr", value);
    }
    QByteArray storedHideNsr() { return QByteArray(GetSubAppUserConfigParam("03", "SysConfig", "HideNsr", "(none)")); }
    QString libraryPath() const { return appFolder + QString::fromLatin1(SJQL_DECRYPT_LIBRARY_NAME); }

    TfrmsjqlMgr* open()
    {
        window = std::make_unique<TfrmsjqlMgr>();
        return window.get();
    }
    bool unavailable(TfrmsjqlMgr* w) const
    {
        return !w->btnHINT->isEnabled() && !w->btnShow->isEnabled() && !w->lblts->isHidden();
    }

    QTemporaryDir home;
    QString appFolder;
    std::unique_ptr<TfrmsjqlMgr> window;
};

TEST_F(HideNsrTest, HideThenShowRoundTrip)
{
    installLibrary();
    installSettings("[SysConfig]\r\nCanUseHideNsr=1\r\n");
    TfrmsjqlMgr* w = open();
    // Nothing stored yet: taxpayers are shown, so only hiding is offered.
    EXPECT_TRUE(w->btnHINT->isEnabled());
    EXPECT_FALSE(w->btnShow->isEnabled());
    EXPECT_TRUE(w->lblts->isHidden());
    // The decrypted copy lands in the module's temp folder, which the check creates owner-only, and
    // is gone once it was read.
    const QString tempFolder = host::subAppPath(host::state().curSubAppCode) + QStringLiteral("temp");
    EXPECT_EQ(QFileInfo(tempFolder).permissions() & ~QFileDevice::Permissions(0x7700), QFileDevice::Permissions());
    EXPECT_FALSE(QFile::exists(tempFolder + QStringLiteral("/TmpIni.ini")));
    // The library was needed for the check only.
    EXPECT_FALSE(w->DecryptLibraryLoaded());
    EXPECT_FALSE(mapped(libraryPath()));

    // (The year list has no database here; its message is not what this test is about.)
    w->show();
    host::clearShownBoxes();
    QTest::mouseClick(w->btnHINT, Qt::LeftButton);
    EXPECT_EQ(storedHideNsr(), "1");
    EXPECT_FALSE(w->btnHINT->isEnabled());
    EXPECT_TRUE(w->btnShow->isEnabled());

    QTest::mouseClick(w->btnShow, Qt::LeftButton);
    EXPECT_EQ(storedHideNsr(), "0");
    EXPECT_TRUE(w->btnHINT->isEnabled());
    EXPECT_FALSE(w->btnShow->isEnabled());
    // No message on either click.
    EXPECT_TRUE(host::shownBoxes().empty());
}

TEST_F(HideNsrTest, AnyStoredValueButZeroCountsAsHidden)
{
    installLibrary();
    installSettings("[SysConfig]\r\nCanUseHideNsr=1\r\n");
    storeHideNsr("2");
    TfrmsjqlMgr* w = open();
    EXPECT_FALSE(w->btnHINT->isEnabled());
    EXPECT_TRUE(w->btnShow->isEnabled());
}

TEST_F(HideNsrTest, SwitchIsOffOnEveryMissingPiece)
{
    struct Case
    {
        const char* what;
        bool library;
        bool garbageLibrary;
        QByteArray plain; // empty: no sysconfig.dat
        const char* password;
    };
    const Case cases[] = {
        {"no library", false, false, "[SysConfig]\r\nCanUseHideNsr=1\r\n", "wqpt1987"},
        {"not a library", false, true, "[SysConfig]\r\nCanUseHideNsr=1\r\n", "wqpt1987"},
        {"no sysconfig.dat", true, false, {}, "wqpt1987"},
        {"another password", true, false, "[SysConfig]\r\nCanUseHideNsr=1\r\n", "wrong"},
        {"switch is 0", true, false, "[SysConfig]\r\nCanUseHideNsr=0\r\n", "wqpt1987"},
        {"key missing", true, false, "[SysConfig]\r\nOther=1\r\n", "wqpt1987"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(libraryPath());
        QFile::remove(appFolder + QStringLiteral("sysconfig.dat"));
        if (c.library)
            installLibrary();
        if (c.garbageLibrary) {
            QFile f(libraryPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("not an ELF file");
        }
        if (!c.plain.isEmpty())
            installSettings(c.plain, c.password);
        // A plain copy left by an earlier version goes with the next decryption, failed or not.
        const QString tempFolder = host::subAppPath(host::state().curSubAppCode) + QStringLiteral("temp");
        ASSERT_TRUE(QDir().mkpath(tempFolder));
        QFile stale(tempFolder + QStringLiteral("/TmpIni.ini"));
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("[SysConfig]\r\nCanUseHideNsr=1\r\n");
        stale.close();
        // Whatever the stored flag says, an unavailable switch offers neither button.
        storeHideNsr("1");
        TfrmsjqlMgr* w = open();
        EXPECT_TRUE(unavailable(w));
        if (c.library && !c.plain.isEmpty()) {
            EXPECT_FALSE(stale.exists());
        }
        w->show();
        EXPECT_EQ(w->lblts->text(), QStringLiteral("升级到最新版代扣代缴可使用本功能。"));
        EXPECT_FALSE(w->DecryptLibraryLoaded());
        EXPECT_FALSE(mapped(libraryPath()));
        window.reset();
    }
}

} // namespace
