// SPDX-License-Identifier: MIT
// The module window driven by sjql-host as a user drives it: the years it offers, and the
// taxpayer switch of installations made with and without it.
#include "helpers/HostProcess.h"

#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using sjql::test::HostRun;

namespace {

class HideNsrHostTest : public ::testing::Test, protected sjql::test::HostFolders
{
protected:
    void SetUp() override { ASSERT_TRUE(valid()); }

    HostRun init(const QStringList& extra)
    {
        return run(QStringList{QStringLiteral("init"), QStringLiteral("--home"), home.path(),
                               QStringLiteral("--agents"), QStringLiteral("1"), QStringLiteral("--employees"),
                               QStringLiteral("3")} +
                   extra);
    }
    HostRun command(const char* name) { return on({QString::fromLatin1(name)}); }
};

TEST_F(HideNsrHostTest, YearsAndTheSwitchRoundTrip)
{
    const HostRun made = init(
        {QStringLiteral("--years"), QStringLiteral("2019-2024"), QStringLiteral("--period"), QStringLiteral("202406")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral("Apps/03/GS_CryptZelpDes.so"))));
    EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral("Apps/03/sysconfig.dat"))));

    const HostRun years = command("years");
    ASSERT_EQ(years.exitCode, 0) << years.err.toStdString();
    EXPECT_EQ(years.value(QStringLiteral("years")), QStringLiteral("2023年,2022年,2021年,2020年,2019年"));
    EXPECT_TRUE(years.value(QStringLiteral("box")).isEmpty());

    const HostRun hide = command("hide");
    ASSERT_EQ(hide.exitCode, 0) << hide.err.toStdString();
    EXPECT_EQ(hide.value(QStringLiteral("HideNsr")), QStringLiteral("1"));
    EXPECT_EQ(hide.value(QStringLiteral("hide_switch")), QStringLiteral("available"));
    EXPECT_EQ(hide.value(QStringLiteral("abnormal_taxpayers")), QStringLiteral("hidden"));

    // The flag outlives the window: hiding again is refused, showing works.
    EXPECT_NE(command("hide").exitCode, 0);
    const HostRun show = command("show");
    ASSERT_EQ(show.exitCode, 0) << show.err.toStdString();
    EXPECT_EQ(show.value(QStringLiteral("HideNsr")), QStringLiteral("0"));
    EXPECT_EQ(show.value(QStringLiteral("abnormal_taxpayers")), QStringLiteral("shown"));
}

TEST_F(HideNsrHostTest, InstallationWithoutTheSwitchAndNoHistory)
{
    const HostRun made = init({QStringLiteral("--years"), QStringLiteral("2024-2024"), QStringLiteral("--period"),
                               QStringLiteral("202406"), QStringLiteral("--no-hide-switch")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_EQ(command("years").value(QStringLiteral("years")), QStringLiteral("无历史数据"));
    const HostRun hide = command("hide");
    EXPECT_NE(hide.exitCode, 0);
    EXPECT_EQ(hide.value(QStringLiteral("hide_switch")), QStringLiteral("unavailable"));
    EXPECT_EQ(hide.value(QStringLiteral("HideNsr")), QStringLiteral("0"));
}

TEST_F(HideNsrHostTest, EncryptConfigMakesAFileTheLibraryDecrypts)
{
    const QString plain = home.filePath(QStringLiteral("plain.ini"));
    const QString encrypted = home.filePath(QStringLiteral("sysconfig.dat"));
    const QString back = home.filePath(QStringLiteral("back.ini"));
    const QByteArray text = "[SysConfig]\r\nCanUseHideNsr=1\r\n";
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    const HostRun enc = run({QStringLiteral("encrypt-config"), plain, encrypted});
    ASSERT_EQ(enc.exitCode, 0) << enc.err.toStdString();
    QFile e(encrypted);
    ASSERT_TRUE(e.open(QIODevice::ReadOnly));
    EXPECT_FALSE(e.readAll().contains("CanUseHideNsr"));

    QLibrary lib(QStringLiteral(SJQL_BINARY_DIR "/bin/GS_CryptZelpDes.so"));
    using Decrypt = unsigned char (*)(const char*, const char*, const char*, int);
    auto decrypt = reinterpret_cast<Decrypt>(lib.resolve("CommonDecryptFile"));
    ASSERT_NE(decrypt, nullptr);
    EXPECT_EQ(decrypt(QFile::encodeName(encrypted).constData(), QFile::encodeName(back).constData(), "other", 0), 0);
    ASSERT_NE(decrypt(QFile::encodeName(encrypted).constData(), QFile::encodeName(back).constData(), "wqpt1987", 0), 0);
    QFile b(back);
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), text);

    EXPECT_NE(run({QStringLiteral("encrypt-config"), home.filePath(QStringLiteral("missing.ini")), encrypted}).exitCode,
              0);
}

} // namespace
