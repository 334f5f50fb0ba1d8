// SPDX-License-Identifier: MIT
// Tax records are personal data. sjql-host as a process, started with the most permissive mask:
// what init, clear and restore leave on disk (installation, database, archives, logs) is readable
// by its owner alone. And the strong mode: archives encrypted with AES-256 under the user's own
// password, taken from a file, round trip on either database, open in 7-Zip with that password
// only, and a restore without it or with a wrong one touches nothing and says why.
#include "helpers/DemoInstallation.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

using sjql::test::HostRun;

namespace {

// The process's mask for the length of a test; children started meanwhile inherit it.
class ProcessMask
{
public:
    explicit ProcessMask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ProcessMask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

// Every file and folder below `root` that its group or others may use, with its mode. Programs
// (the decryption library the installation carries) hold no data and keep their modes.
QStringList openToOthers(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st
        {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || path.endsWith(QLatin1String(".so")))
            continue;
        if ((st.st_mode & 077) != 0)
            found << QStringLiteral("%1 %2").arg(st.st_mode & 0777, 3, 8).arg(path);
    }
    return found;
}

void writeFile(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

class SecurityE2e : public testing::TestWithParam<const char*>, protected sjql::test::DemoInstallation
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(valid());
        ASSERT_TRUE(init(GetParam(), {QStringLiteral("--agents"), QStringLiteral("1"), QStringLiteral("--employees"),
                                      QStringLiteral("3"), QStringLiteral("--years"), QStringLiteral("2008-2009"),
                                      QStringLiteral("--period"), QStringLiteral("201003")}));
        before = sjql::test::historySnapshot(database);
        ASSERT_FALSE(before.isEmpty());
    }
    QString backups() const { return home.filePath(QStringLiteral("bak")); }

    ProcessMask open{0}; // set before SetUp, so init runs under it too
    QStringList before;
};

TEST_P(SecurityE2e, NothingARunLeavesIsReadableByOthers)
{
    const HostRun cleared = on({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2008,2009"),
                                QStringLiteral("--backup-dir"), backups() + QStringLiteral("/备份")});
    // 200908 is locked by the tax office: its line (and the run log's entry) ends the run with 3.
    ASSERT_EQ(cleared.exitCode, 3) << cleared.err.toStdString();
    QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 2) << cleared.out.toStdString();
    EXPECT_FALSE(QDir(exeDir.path()).entryList({QStringLiteral("SjqlRun*.log")}, QDir::Files).isEmpty());
    archives.sort();
    const HostRun restored = on(QStringList{QStringLiteral("restore")} + archives);
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(sjql::test::historySnapshot(database), before);

    for (const QString& root : {home.path(), exeDir.path()})
        EXPECT_EQ(openToOthers(root), QStringList()) << root.toStdString();
    // The switch's decrypted settings never stay behind.
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("Apps/16/temp/TmpIni.ini"))));
}

TEST_P(SecurityE2e, StrongArchivesRoundTripWithTheirPasswordOnly)
{
    const QString password = home.filePath(QStringLiteral("pw"));
    const QString wrong = home.filePath(QStringLiteral("wrong"));
    const QString readable = home.filePath(QStringLiteral("readable"));
    writeFile(password, "Zhang-密码-2008\n", 0600);
    writeFile(wrong, "Zhang-密码-2007\n", 0600);
    writeFile(readable, "Zhang-密码-2008\n", 0644);
    const auto clear = [&](const QString& file) {
        return on({QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2008"),
                   QStringLiteral("--backup-dir"), backups(), QStringLiteral("--password-file"), file});
    };

    // A password file others may read is refused before anything happens.
    const HostRun refused = clear(readable);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.lastLine().startsWith(QStringLiteral("result=not done: "))) << refused.out.toStdString();
    EXPECT_EQ(sjql::test::historySnapshot(database), before);

    const HostRun cleared = clear(password);
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err.toStdString();
    const QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << cleared.out.toStdString();
    const QString archive = archives.first();
    const QStringList cleared2008 = sjql::test::historySnapshot(database);
    ASSERT_NE(cleared2008, before);
    // The strong mode was for that run: the user's setting is as it was.
    QFile settings(home.filePath(QStringLiteral("Users/admin/16.ini")));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_FALSE(settings.readAll().contains("AES-256"));

    // 7-Zip: every member AES-256, opened with the password and refused without it.
    QProcess sevenZip;
    sevenZip.start(QStringLiteral("7z"), {QStringLiteral("l"), QStringLiteral("-slt"), archive});
    ASSERT_TRUE(sevenZip.waitForFinished(60000));
    const QByteArray listing = sevenZip.readAllStandardOutput();
    EXPECT_GT(listing.count("Method = AES-256"), 0);
    EXPECT_EQ(listing.count("Method = AES-256"), listing.count("Path = ") - 1); // minus the archive itself
    for (const auto& [key, ok] :
         {std::pair{QStringLiteral("Zhang-密码-2008"), true}, std::pair{QStringLiteral("RVTQuinMOBA"), false}}) {
        sevenZip.start(QStringLiteral("7z"), {QStringLiteral("t"), QStringLiteral("-p") + key, archive});
        ASSERT_TRUE(sevenZip.waitForFinished(60000));
        EXPECT_EQ(sevenZip.exitCode() == 0, ok) << key.toStdString();
    }

    // No password: the run does not start. A wrong one: the archive is not restored, and says why.
    const HostRun without = on({QStringLiteral("restore"), archive});
    EXPECT_EQ(without.exitCode, 1) << without.out.toStdString();
    EXPECT_TRUE(without.lastLine().startsWith(QStringLiteral("result=not done: "))) << without.out.toStdString();
    const HostRun mistaken = on({QStringLiteral("restore"), QStringLiteral("--password-file"), wrong, archive});
    EXPECT_EQ(mistaken.exitCode, 3) << mistaken.out.toStdString();
    EXPECT_TRUE(mistaken.out.contains(QStringLiteral("密码不对"))) << mistaken.out.toStdString();
    EXPECT_EQ(sjql::test::historySnapshot(database), cleared2008);

    // verify and archives read it with the password; without it the verdict says so.
    const HostRun unverified = run({QStringLiteral("verify"), archive});
    EXPECT_EQ(unverified.exitCode, 3);
    EXPECT_TRUE(unverified.out.contains(QStringLiteral("verdict=wrong-password"))) << unverified.out.toStdString();
    const HostRun verified = run({QStringLiteral("verify"), QStringLiteral("--password-file"), password, archive});
    EXPECT_EQ(verified.exitCode, 0) << verified.out.toStdString();
    EXPECT_TRUE(verified.out.contains(QStringLiteral("verdict=sound"))) << verified.out.toStdString();
    const HostRun listed = on(
        {QStringLiteral("archives"), QStringLiteral("--dir"), backups(), QStringLiteral("--password-file"), password});
    EXPECT_EQ(listed.exitCode, 0) << listed.out.toStdString();
    EXPECT_TRUE(listed.out.contains(QStringLiteral("archive=91110100MA08372364 2008 2008")))
        << listed.out.toStdString();

    const HostRun restored = on({QStringLiteral("restore"), QStringLiteral("--password-file"), password, archive});
    ASSERT_EQ(restored.exitCode, 0) << restored.out.toStdString();
    const QStringList lines = restored.values(QStringLiteral("line"));
    ASSERT_EQ(lines.size(), 1) << restored.out.toStdString();
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("数据恢复完成，已恢复的所属期：2008")))
        << lines.first().toStdString();
    EXPECT_EQ(sjql::test::historySnapshot(database), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SecurityE2e, SJQL_DATABASE_KINDS);
