// SPDX-License-Identifier: MIT
// sjql-host restore: the restore run driven through the module's own window, as a user does it:
// press the restore button, choose the archives in the open dialog, wait for the progress window
// and read the result dialog. Prints the result lines ("line=..."); boxes shown by the host
// services are printed as "box=...". The last line is the run's summary ("result=..."), the exit
// code its ending; Ctrl-C stops the run at the module's next safe point. While the run goes on,
// the progress window's operation and position are shown on stderr.
#include "Commands.h"
#include "HostSession.h"
#include "JsonReport.h"
#include "PasswordFile.h"
#include "ProgressReporter.h"
#include "host/services/HostServicesAdmin.h"
#include "module/jobs/RunOutcome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>

namespace sjql::host {

namespace {

// Answers the dialogs of the run: the open dialog with the archives, the result dialog with
// confirm once its lines were read.
class RestoreAnswerer : public QObject
{
public:
    explicit RestoreAnswerer(QStringList archives) : m_archives(std::move(archives))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(50);
    }

    bool chose = false;
    QStringList results;

private:
    void poll()
    {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog == m_answered || !dialog->isVisible())
            return;
        if (auto* open = qobject_cast<QFileDialog*>(dialog)) {
            if (open->objectName() != QLatin1String("dlgOpenHF"))
                return;
            // Typed into the name field as the user would: every file in quotes, full paths.
            QStringList quoted;
            for (const QString& a : m_archives)
                quoted << QLatin1Char('"') + a + QLatin1Char('"');
            if (auto* edit = open->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(quoted.join(QLatin1Char(' ')));
            m_answered = dialog;
            chose = true;
            static_cast<QDialog*>(open)->accept(); // QFileDialog::accept checks the typed names
            return;
        }
        if (QString::fromLatin1(dialog->metaObject()->className()) != QLatin1String("sjql::ui::Tfrm_DispResult"))
            return; // the progress window closes by itself
        if (auto* edit = dialog->findChild<QTextEdit*>(QStringLiteral("edit_result"))) {
            QStringList lines = edit->toPlainText().split(QLatin1Char('\n'));
            while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
                lines.removeLast();
            results << lines;
        }
        m_answered = dialog;
        if (auto* b = dialog->findChild<QAbstractButton*>(QStringLiteral("sBtnConfirm")))
            b->click();
        else
            dialog->close();
    }

    QStringList m_archives;
    QTimer m_timer;
    QWidget* m_answered = nullptr;
};

// The plan's lines for people, and the last line's text.
QString printRestorePlan(const QJsonObject& plan)
{
    int restoring = 0, months = 0;
    qint64 rows = 0, replaced = 0;
    for (const QJsonValue& archive : plan[QStringLiteral("archives")].toArray()) {
        QString line = archive[QStringLiteral("archive")].toString() + QLatin1Char(' ') +
                       archive[QStringLiteral("action")].toString();
        if (!archive[QStringLiteral("reason")].toString().isEmpty())
            line += QStringLiteral(" reason=") + archive[QStringLiteral("reason")].toString();
        printValue(QStringLiteral("archive"), line);
        restoring += archive[QStringLiteral("action")].toString() == QLatin1String("restore") ? 1 : 0;
        for (const QJsonValue& month : archive[QStringLiteral("months")].toArray()) {
            const QJsonArray tables = month[QStringLiteral("tables")].toArray();
            QString text = month[QStringLiteral("period")].toString() + QLatin1Char(' ') +
                           month[QStringLiteral("action")].toString() + QLatin1Char(' ') +
                           tableCountsText(tables, QStringLiteral("inArchive")) + QStringLiteral(" replaces: ") +
                           tableCountsText(tables, QStringLiteral("replaces"));
            if (!month[QStringLiteral("reason")].toString().isEmpty())
                text += QStringLiteral(" reason=") + month[QStringLiteral("reason")].toString();
            printValue(QStringLiteral("month"), text);
            if (month[QStringLiteral("action")].toString() != QLatin1String("restore"))
                continue;
            ++months;
            for (const QJsonValue& t : tables) {
                rows += t[QStringLiteral("inArchive")].toInteger();
                replaced += t[QStringLiteral("replaces")].toInteger();
            }
        }
    }
    return QStringLiteral("试运行，未做任何更改：%1个备份文件中%2个将恢复，共%3个月%4行，替换数据库中的%5行")
        .arg(plan[QStringLiteral("archives")].toArray().size())
        .arg(restoring)
        .arg(months)
        .arg(rows)
        .arg(replaced);
}

// A real run's accounting: the plan made just before, with the rows each planned month holds in
// the database now ("restored" when they are the archive's rows, in number).
QJsonArray restoreAccounting(const QJsonObject& plan, QString* error)
{
    QJsonArray periods;
    for (const QJsonValue& archive : plan[QStringLiteral("archives")].toArray())
        for (const QJsonValue& month : archive[QStringLiteral("months")].toArray())
            periods.append(month[QStringLiteral("period")]);
    // Counts that cannot be taken give no accounting rather than months reported empty.
    QJsonObject now;
    if (!currentMonthRows(periods, &now, error))
        return {};
    QJsonArray archives;
    for (const QJsonValue& archiveValue : plan[QStringLiteral("archives")].toArray()) {
        QJsonObject archive = archiveValue.toObject();
        QJsonArray months;
        for (const QJsonValue& monthValue : archive[QStringLiteral("months")].toArray()) {
            QJsonObject month = monthValue.toObject();
            const QJsonArray after = now[month[QStringLiteral("period")].toString()].toArray();
            const QJsonArray planned = month[QStringLiteral("tables")].toArray();
            bool restored = month[QStringLiteral("action")].toString() == QLatin1String("restore");
            for (qsizetype i = 0; i < planned.size(); ++i)
                restored = restored && after[i].toInteger() == planned[i][QStringLiteral("inArchive")].toInteger();
            QJsonArray tables;
            for (qsizetype i = 0; i < planned.size(); ++i) {
                QJsonObject t = planned[i].toObject();
                t.insert(QStringLiteral("restored"), restored ? t[QStringLiteral("inArchive")].toInteger() : 0);
                t.insert(QStringLiteral("now"), after[i].toInteger());
                tables.append(t);
            }
            month.insert(QStringLiteral("tables"), tables);
            month.insert(QStringLiteral("restored"), restored);
            months.append(month);
        }
        archive.insert(QStringLiteral("months"), months);
        archives.append(archive);
    }
    return archives;
}

// The dry run for the session's current agent.
AgentEnding planAgent(const QStringList& archives, QJsonObject& agentJson)
{
    QJsonObject plan;
    if (const std::optional<AgentEnding> refused =
            askForPlan(QJsonObject{{QStringLiteral("command"), QStringLiteral("restore-plan")},
                                   {QStringLiteral("archives"), QJsonArray::fromStringList(archives)}},
                       &plan, &agentJson))
        return *refused;
    const QString text = printRestorePlan(plan);
    printValue(QStringLiteral("result"), text);
    return {0, text};
}

// The real restore through the window, with its accounting when a report is asked for.
AgentEnding restoreThroughWindow(HostSession& session, const CommandLine& cl, const QStringList& archives,
                                 QJsonObject& agentJson)
{
    QString error;
    const bool json = cl.flag(QStringLiteral("json"));
    QJsonObject plan;
    if (json && !askModule(QJsonObject{{QStringLiteral("command"), QStringLiteral("restore-plan")},
                                       {QStringLiteral("archives"), QJsonArray::fromStringList(archives)}},
                           &plan, &error))
        return agentNotDone(error);
    QWidget* form = session.openScriptedModule(&error);
    if (!form)
        return agentNotDone(error);
    auto* restoreButton = form->findChild<QWidget*>(QStringLiteral("btnRegain"));
    if (!restoreButton)
        return agentNotDone(QStringLiteral("the module window has no restore button"));

    // The whole run happens inside the click: open dialog, progress window and result dialog.
    const QPointer<QWidget> window(form);
    forgetRunEnding(form);
    RestoreAnswerer answerer(archives);
    std::optional<QString> password; // read and checked by runRestore already
    (void)passwordFromCommandLine(cl, &password, &error);
    const PasswordAnswerer passwordAnswerer(password);
    ProgressReporter progress(ProgressReporter::styleFor(cl));
    progress.followProgressWindow();
    clickWidget(restoreButton);
    settle(100);
    progress.finish();
    if (passwordAnswerer.problem())
        return agentNotDone(*passwordAnswerer.problem());
    if (!answerer.chose)
        return agentNotDone(QStringLiteral("the restore button showed no open dialog"));
    for (const QString& line : answerer.results)
        printValue(QStringLiteral("line"), line);
    AgentEnding ending{0, window ? window->property(kRunSummaryProperty).toString() : QString()};
    ending.exitCode = reportRunEnding(window.data());
    if (ending.exitCode == kExitFailed)
        ending.result = QStringLiteral("not done");
    if (json) {
        agentJson.insert(QStringLiteral("archives"), restoreAccounting(plan, &error));
        agentJson.insert(QStringLiteral("lines"), QJsonArray::fromStringList(answerer.results));
    }
    return ending;
}

int runRestore(const CommandLine& cl)
{
    if (cl.positional.isEmpty())
        return usageError(QStringLiteral("name the archives to restore, e.g. restore --home DIR 2008.zip 2009.zip"));
    const bool dryRun = cl.flag(QStringLiteral("dry-run"));
    const bool allAgents = cl.flag(QStringLiteral("all-agents"));
    if (allAgents && cl.has(QStringLiteral("agent")))
        return usageError(QStringLiteral("--agent and --all-agents exclude each other"));
    if (allAgents && !dryRun)
        return usageError(QStringLiteral("--all-agents goes with --dry-run only: an archive belongs to one agent"));
    // The same archive twice would be restored twice in one run: a wrong command line.
    QString twice;
    const QStringList archives = distinctArchivePaths(cl.positional, &twice);
    if (archives.isEmpty())
        return usageError(QStringLiteral("archive %1 is named more than once").arg(twice));
    JsonReport report(QStringLiteral("restore"), dryRun, cl.flag(QStringLiteral("json")));
    for (const QString& a : archives) {
        if (!QFileInfo(a).isFile()) {
            const QString message = QStringLiteral("archive %1 does not exist").arg(a);
            failRun(message);
            return report.finish(kExitFailed, QStringLiteral("not done: ") + message);
        }
    }

    HostSession session;
    QString error;
    std::optional<QString> password;
    if (!passwordFromCommandLine(cl, &password, &error) || !session.start(cl, &error)) {
        failRun(error);
        return report.finish(kExitFailed, QStringLiteral("not done: ") + error);
    }
    session.stopOnSignals();

    return runForAgents(
        session, allAgents, report,
        [&](QJsonObject& agentJson) {
            return dryRun ? planAgent(archives, agentJson) : restoreThroughWindow(session, cl, archives, agentJson);
        },
        QStringLiteral("试运行"));
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("restore"),
    .usage = QStringLiteral(
        "--home DIR [--password-file FILE] [--dry-run] [--json] [--agent CODE | --all-agents] [--quiet] ARCHIVE..."),
    .summary = QStringLiteral("通过模块窗口恢复备份文件（在窗口的打开对话框中选中它们），输出结果行"),
    .details = QStringLiteral(
        "--dry-run：只说明每个备份文件、每个月份会恢复还是跳过及原因（扣缴义务人、版本、\n"
        "申报序号是否改变、文件是否缺失、是否有不属于该月的行），以及会替换数据库中的\n"
        "多少行，不做任何更改。--json：在标准输出上输出一个 JSON 文档，供人阅读的行改到\n"
        "标准错误。--agent CODE：为此安装的另一个扣缴义务人；--all-agents（仅与 --dry-run）：\n"
        "依次为每个扣缴义务人试运行。\n"
        "--password-file FILE：AES-256 加密的备份文件的密码，为文件的第一行（文件权限须为 600）。"),
    .valueOptions = {QStringLiteral("agent"), QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("quiet"), QStringLiteral("dry-run"), QStringLiteral("json"),
                    QStringLiteral("all-agents")},
    .maxPositional = -1,
    .gui = true,
    .run = runRestore,
})

} // namespace sjql::host
