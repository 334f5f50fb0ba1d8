// SPDX-License-Identifier: MIT
// What sjql-host's long commands show while they run: on stderr, a line per operation of the
// progress window for a log (every month of a clear and of a restore), a redrawn line on a
// terminal, nothing with --quiet; stdout, the exit code and the closing line stay as they are,
// also when the reader of stderr goes away in the middle of the run.
#include "helpers/HostProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using sjql::test::HostRun;

namespace {

QStringList progressLines(const QString& text)
{
    QStringList found;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("progress=")))
            found << line;
    }
    return found;
}

// The months named in progress lines, "201901" ..., each once, in the order first named.
QStringList monthsNamed(const QStringList& lines)
{
    static const QRegularExpression month(QStringLiteral("\\[(\\d{6})\\]"));
    QStringList months;
    for (const QString& line : lines) {
        const auto m = month.match(line);
        if (m.hasMatch() && !months.contains(m.captured(1)))
            months << m.captured(1);
    }
    return months;
}

QStringList monthsOf(int year)
{
    QStringList months;
    for (int m = 1; m <= 12; ++m)
        months << QStringLiteral("%1%2").arg(year).arg(m, 2, 10, QLatin1Char('0'));
    return months;
}

// stdout with the archives' time stamps taken out, for comparing two runs.
QString withoutTimeStamps(QString out)
{
    static const QRegularExpression stamp(QStringLiteral("_\\d{17}\\.zip"));
    return out.replace(stamp, QStringLiteral("_STAMP.zip"));
}

// Each progress line reads "progress=<percent> <text>", and no line repeats the one before it.
void expectWellFormed(const QStringList& lines)
{
    static const QRegularExpression form(QStringLiteral("^progress=(\\d{1,3}|-) \\S.*$"));
    for (int i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(form.match(lines.at(i)).hasMatch()) << lines.at(i).toStdString();
        if (i > 0) {
            EXPECT_NE(lines.at(i).section(QLatin1Char(' '), 1), lines.at(i - 1).section(QLatin1Char(' '), 1))
                << lines.at(i).toStdString();
        }
    }
}

} // namespace

class ProgressE2e : public testing::Test, protected sjql::test::HostFolders
{
protected:
    HostRun host(const QStringList& args) { return on(args); }
    QStringList demo() const
    {
        return {QStringLiteral("init"),     QStringLiteral("--years"), QStringLiteral("2019-2020"),
                QStringLiteral("--period"), QStringLiteral("202106"),  QStringLiteral("--employees"),
                QStringLiteral("4")};
    }
};

TEST_F(ProgressE2e, ClearAndRestoreNameEveryMonthOnStderrAndQuietChangesOnlyThat)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    const HostRun made = host(demo());
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    // init's phases, in order, and none of them on stdout.
    const QStringList phases = progressLines(made.err);
    expectWellFormed(phases);
    QStringList texts;
    for (const QString& line : phases)
        texts << line.section(QLatin1Char(' '), 1);
    EXPECT_EQ(texts,
              (QStringList{QStringLiteral("正在创建安装目录"), QStringLiteral("正在连接主机数据库"),
                           QStringLiteral("正在创建数据表"), QStringLiteral("正在生成演示数据：第1/3个扣缴义务人"),
                           QStringLiteral("正在生成演示数据：第2/3个扣缴义务人"),
                           QStringLiteral("正在生成演示数据：第3/3个扣缴义务人"), QStringLiteral("正在写入演示数据"),
                           QStringLiteral("正在保存安装设置")}));
    EXPECT_TRUE(progressLines(made.out).isEmpty());
    EXPECT_FALSE(made.value(QStringLiteral("rows")).isEmpty());

    const QString backup = home.filePath(QStringLiteral("bak"));
    const QStringList clear{QStringLiteral("clear"), QStringLiteral("--years"), QStringLiteral("2019"),
                            QStringLiteral("--backup-dir"), backup};
    const HostRun cleared = host(clear);
    ASSERT_EQ(cleared.exitCode, 0) << cleared.out.toStdString() << cleared.err.toStdString();
    const QStringList clearLines = progressLines(cleared.err);
    expectWellFormed(clearLines);
    // Every month of the year, however short, in the order the run takes them; then the compaction.
    EXPECT_EQ(monthsNamed(clearLines), monthsOf(2019)) << clearLines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(clearLines.last().endsWith(QStringLiteral("正在压缩数据库"))) << clearLines.last().toStdString();
    EXPECT_TRUE(progressLines(cleared.out).isEmpty());
    const QStringList archives = cleared.values(QStringLiteral("archive"));
    ASSERT_EQ(archives.size(), 1) << cleared.out.toStdString();

    const HostRun restored = host({QStringLiteral("restore"), archives.first()});
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    const QStringList restoreLines = progressLines(restored.err);
    expectWellFormed(restoreLines);
    EXPECT_EQ(monthsNamed(restoreLines), monthsOf(2019)) << restoreLines.join(QLatin1Char('\n')).toStdString();
    // A row counter "(k/N)" never makes a line of its own.
    for (const QString& line : restoreLines)
        EXPECT_FALSE(line.endsWith(QLatin1Char(')'))) << line.toStdString();
    EXPECT_TRUE(progressLines(restored.out).isEmpty());

    // The same work again with --quiet: nothing on stderr about progress, stdout and exit code alike.
    const HostRun quietClear = host(clear + QStringList{QStringLiteral("--quiet")});
    EXPECT_EQ(quietClear.exitCode, cleared.exitCode);
    EXPECT_TRUE(progressLines(quietClear.err).isEmpty()) << quietClear.err.toStdString();
    EXPECT_EQ(withoutTimeStamps(quietClear.out), withoutTimeStamps(cleared.out));
    const QStringList again = quietClear.values(QStringLiteral("archive"));
    ASSERT_EQ(again.size(), 1) << quietClear.out.toStdString();
    const HostRun quietRestore = host({QStringLiteral("restore"), QStringLiteral("--quiet"), again.first()});
    EXPECT_EQ(quietRestore.exitCode, restored.exitCode);
    EXPECT_TRUE(progressLines(quietRestore.err).isEmpty()) << quietRestore.err.toStdString();
    EXPECT_EQ(withoutTimeStamps(quietRestore.out), withoutTimeStamps(restored.out));
}

TEST_F(ProgressE2e, AReaderThatLeavesStderrDoesNotEndTheRun)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    const HostRun made = host(demo() + QStringList{QStringLiteral("--quiet")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    // "sjql-host clear ... 2>&1 >out | head -n 1": the pipe closes after the first progress line.
    const QString out = exeDir.filePath(QStringLiteral("clear.out"));
    const QString code = exeDir.filePath(QStringLiteral("clear.code"));
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SJQL_HOST_EXE_DIR"), exeDir.path());
    env.insert(QStringLiteral("SJQL_SQL_LOG_DIR"), exeDir.path());
    env.insert(QStringLiteral("TMPDIR"), exeDir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    shell.setProcessEnvironment(env);
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("{ \"$0\" clear --home \"$1\" --years 2019 --backup-dir \"$2\" "
                                ">\"$3\"; echo $? >\"$4\"; } 2>&1 | head -n 1"),
                 QStringLiteral(SJQL_BINARY_DIR "/bin/sjql-host"), home.path(), home.filePath(QStringLiteral("bak")),
                 out, code});
    ASSERT_TRUE(shell.waitForFinished(300000));
    EXPECT_TRUE(QString::fromUtf8(shell.readAllStandardOutput()).startsWith(QLatin1String("progress=")));
    QFile codeFile(code), outFile(out);
    ASSERT_TRUE(codeFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(codeFile.readAll().trimmed(), QByteArray("0"));
    ASSERT_TRUE(outFile.open(QIODevice::ReadOnly));
    const QString printed = QString::fromUtf8(outFile.readAll());
    EXPECT_TRUE(printed.contains(QLatin1String("\narchive="))) << printed.toStdString();
    EXPECT_TRUE(printed.trimmed().section(QLatin1Char('\n'), -1).startsWith(QLatin1String("result=")))
        << printed.toStdString();
}

TEST_F(ProgressE2e, ATerminalSeesOneRedrawnLineEndedBeforeTheResults)
{
    ASSERT_TRUE(home.isValid() && exeDir.isValid());
    if (!QFile::exists(QStringLiteral("/usr/bin/script")))
        GTEST_FAIL() << "util-linux script is needed to give the host a terminal";
    // script gives the host a terminal on stderr; stdout goes to a file as a script's would.
    const QString out = exeDir.filePath(QStringLiteral("init.out"));
    QStringList words{QStringLiteral(SJQL_BINARY_DIR "/bin/sjql-host"), QStringLiteral("init"),
                      QStringLiteral("--home"), home.path()};
    words << demo().mid(1);
    QProcess terminal;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SJQL_HOST_EXE_DIR"), exeDir.path());
    env.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
    terminal.setProcessEnvironment(env);
    terminal.start(QStringLiteral("/usr/bin/script"),
                   {QStringLiteral("-qec"), words.join(QLatin1Char(' ')) + QStringLiteral(" >") + out,
                    QStringLiteral("/dev/null")});
    ASSERT_TRUE(terminal.waitForFinished(120000));
    EXPECT_EQ(terminal.exitCode(), 0);
    const QString shown = QString::fromUtf8(terminal.readAllStandardOutput());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("\r[  0%] 正在创建安装目录\x1b[K"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("\r[ 99%] 正在保存安装设置\x1b[K"))) << shown.toStdString();
    // One line: redrawn in place, ended once (the terminal turns the newline into CR LF).
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 1) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QLatin1String("\x1b[K\r\n"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QLatin1String("progress=")));
    QFile outFile(out);
    ASSERT_TRUE(outFile.open(QIODevice::ReadOnly));
    const QString printed = QString::fromUtf8(outFile.readAll());
    EXPECT_TRUE(printed.startsWith(QLatin1String("home="))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QStringLiteral("正在")));
}
