// SPDX-License-Identifier: MIT
// The progress that sjql-host's long commands show on stderr: one line per operation for a log
// (a row counter is no new operation), one redrawn line cut to the width of a terminal and ended
// before the results, nothing with --quiet, and a progress window followed by its object names,
// every operation seen even when it lasts less than the window's refresh.
#include "ProgressReporter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using sjql::host::ProgressReporter;

namespace {

// A FILE* whose bytes the test reads back.
class Capture
{
public:
    Capture() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~Capture()
    {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    FILE* file() const { return m_file; }
    QString text()
    {
        std::fflush(m_file);
        return QString::fromUtf8(m_buffer, qsizetype(m_size));
    }

private:
    char* m_buffer = nullptr;
    size_t m_size = 0;
    FILE* m_file;
};

void processEventsFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

// Stands in for the module's progress window: the names a host may rely on, nothing else.
class FakeProgressWindow : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString OperationText MEMBER OperationText)
    Q_PROPERTY(qint16 ItemProgress MEMBER ItemProgress)
public:
    FakeProgressWindow()
    {
        line = new QLabel(this);
        line->setObjectName(QStringLiteral("lable_operatoin"));
        auto* gauge = new QWidget(this);
        gauge->setObjectName(QStringLiteral("ProgressBar_item"));
    }
    QString OperationText;
    qint16 ItemProgress = 0;
    QLabel* line;
};

TEST(ProgressReporter, ALogGetsOneLinePerOperationNotPerRowOrPosition)
{
    Capture out;
    {
        ProgressReporter progress(ProgressReporter::Style::Lines, out.file());
        progress.show(QStringLiteral("正在还原[200801]工资表数据。(20/100)"), 5);
        progress.show(QStringLiteral("正在还原[200801]工资表数据。(40/100)"), 6);
        progress.show(QStringLiteral("正在还原[200801]报告表数据。(1/10)"), 7);
        progress.show(QString(), 8);
        progress.show(QStringLiteral("正在备份清理[200802]数据"), 9);
        progress.show(QStringLiteral("正在备份清理[200802]数据"), 10);
        // Parentheses that are not a row counter belong to the text.
        progress.show(QStringLiteral("正在压缩(第2步)"), 11);
        progress.show(QStringLiteral("两行\n文字"), -1);
        progress.finish();
    }
    EXPECT_EQ(out.text(), QStringLiteral("progress=5 正在还原[200801]工资表数据。\n"
                                         "progress=7 正在还原[200801]报告表数据。\n"
                                         "progress=9 正在备份清理[200802]数据\n"
                                         "progress=11 正在压缩(第2步)\n"
                                         "progress=- 两行 文字\n"));
}

TEST(ProgressReporter, ATerminalGetsOneLineRedrawnWithinItsWidthAndEndedOnce)
{
    Capture out;
    ProgressReporter progress(ProgressReporter::Style::Terminal, out.file(), 20);
    // 7 columns for "[ 45%] ", two for each Chinese character: 19 columns fit, one stays free.
    progress.show(QStringLiteral("正在备份清理[201905]数据"), 45);
    progress.show(QStringLiteral("正在备份清理[201905]数据"), 45);
    EXPECT_EQ(out.text(), QStringLiteral("\r[ 45%] 正在备份清理\x1b[K"));
    progress.show(QStringLiteral("ok"), 100);
    progress.finish();
    progress.finish();
    EXPECT_EQ(out.text(), QStringLiteral("\r[ 45%] 正在备份清理\x1b[K\r[100%] ok\x1b[K\n"));
    EXPECT_EQ(ProgressReporter::displayWidth(QStringLiteral("[ 45%] 正在备份清理")), 19);
}

TEST(ProgressReporter, QuietAndUntouchedReportersWriteNothing)
{
    Capture quiet, idle;
    {
        ProgressReporter q(ProgressReporter::Style::Quiet, quiet.file(), 80);
        q.followProgressWindow();
        q.show(QStringLiteral("正在压缩数据库"), 90);
        ProgressReporter i(ProgressReporter::Style::Terminal, idle.file(), 80);
        i.finish(); // nothing drawn: no empty line before the results either
    }
    EXPECT_TRUE(quiet.text().isEmpty());
    EXPECT_TRUE(idle.text().isEmpty());
}

TEST(ProgressReporter, FollowsTheWindowAndSeesOperationsShorterThanItsRefresh)
{
    Capture out;
    FakeProgressWindow window;
    window.show();
    ProgressReporter progress(ProgressReporter::Style::Lines, out.file());
    progress.followProgressWindow();
    window.OperationText = QStringLiteral("开始解析2019.zip文件");
    window.ItemProgress = 5;
    processEventsFor(250); // the window is found
    // Each operation lasts one round of event processing, as a short month of a small demo does.
    for (int month = 1; month <= 3; ++month) {
        window.OperationText = QStringLiteral("正在还原[20190%1]工资表数据。(20/40)").arg(month);
        window.ItemProgress = qint16(10 * month);
        QCoreApplication::processEvents();
        window.OperationText = QStringLiteral("正在还原[20190%1]工资表数据。(40/40)").arg(month);
        QCoreApplication::processEvents();
    }
    window.hide();
    processEventsFor(150);
    progress.finish();
    EXPECT_EQ(out.text(), QStringLiteral("progress=5 开始解析2019.zip文件\n"
                                         "progress=10 正在还原[201901]工资表数据。\n"
                                         "progress=20 正在还原[201902]工资表数据。\n"
                                         "progress=30 正在还原[201903]工资表数据。\n"));
}

TEST(ProgressReporter, AWindowWithoutPropertiesIsReadFromItsLineAndGauge)
{
    Capture out;
    QWidget window;
    auto* line = new QLabel(&window);
    line->setObjectName(QStringLiteral("lable_operatoin"));
    auto* gauge = new QWidget(&window);
    gauge->setObjectName(QStringLiteral("ProgressBar_item"));
    gauge->setProperty("PercentDone", 30);
    line->setText(QStringLiteral("正在备份清理[201903]数据"));
    window.show();
    ProgressReporter progress(ProgressReporter::Style::Terminal, out.file(), 80);
    progress.followProgressWindow();
    processEventsFor(250);
    progress.finish();
    EXPECT_EQ(out.text(), QStringLiteral("\r[ 30%] 正在备份清理[201903]数据\x1b[K\n"));
}

#include "ProgressReporterTest.moc"
