// SPDX-License-Identifier: MIT
// sjql-host clear: the backup-and-clear run driven through the module's own window, as a user does
// it: tick the year boxes, press the clear button, confirm the host's question, answer the warnings
// dialog, and read the result dialog. Prints the result lines ("line=...") and the archives written
// ("archive=..."); boxes shown by the host services are printed as "box=...". The last line is the
// run's summary ("result=..."), the exit code its ending; Ctrl-C stops the run between months.
// While the run goes on, the progress window's operation and position are shown on stderr.
#include "Commands.h"
#include "HostSession.h"
#include "JsonReport.h"
#include "PasswordFile.h"
#include "ProgressReporter.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "module/jobs/RunOutcome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTextEdit>
#include <QTimer>

namespace sjql::host {

namespace {

// Every archive file under the folders, by full path.
QSet<QString> archivesIn(const QStringList& folders)
{
    QSet<QString> found;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        QDirIterator it(folder, {QStringLiteral("*.zip")}, QDir::Files);
        while (it.hasNext())
            found.insert(QFileInfo(it.next()).absoluteFilePath());
    }
    return found;
}

QStringList dialogLines(QWidget* dialog)
{
    auto* edit = dialog->findChild<QTextEdit*>(QStringLiteral("edit_result"));
    if (!edit)
        return {};
    QStringList lines = edit->toPlainText().split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines;
}

// Answers the module's result dialogs while the run goes on: the warnings dialog with confirm or
// cancel, the closing result dialog with confirm after its lines were read.
class DialogAnswerer : public QObject
{
public:
    explicit DialogAnswerer(bool declineWarnings) : m_decline(declineWarnings)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(50);
    }

    QStringList warnings, results;

private:
    void poll()
    {
        QWidget* dialog = QApplication::activeModalWidget();
        // A dialog is answered once; the mark stays with the object (a later dialog may reuse its address).
        if (!dialog || !dialog->isVisible() || dialog->property(kAnswered).toBool())
            return;
        const QString kind = QString::fromLatin1(dialog->metaObject()->className());
        QString button;
        if (kind == QLatin1String("sjql::ui::Tfrm_DispResultEx")) {
            warnings << dialogLines(dialog);
            button = m_decline ? QStringLiteral("btnCancel") : QStringLiteral("sBtnConfirm");
        } else if (kind == QLatin1String("sjql::ui::Tfrm_DispResult")) {
            results << dialogLines(dialog);
            button = QStringLiteral("sBtnConfirm");
        } else {
            return; // the progress window closes by itself
        }
        auto* b = dialog->findChild<QAbstractButton*>(button);
        if (!b) {
            note(QStringLiteral("the %1 dialog has no button %2; closing it").arg(kind, button));
            dialog->close();
        } else {
            b->click();
        }
        dialog->setProperty(kAnswered, true);
    }

    static constexpr const char* kAnswered = "sjqlHostAnswered";

    QTimer m_timer;
    bool m_decline = false;
};

// The years of --years: four-digit years separated by commas, each once. False with *error set
// otherwise, so that nothing is cleared on a half-understood list.
bool parseYears(const QString& text, QStringList* years, QString* error)
{
    static const QRegularExpression yearForm(QStringLiteral("^[12][0-9]{3}$"));
    if (text.trimmed().isEmpty()) {
        *error = QStringLiteral("--years wants the years to clear, e.g. --years 2019,2020");
        return false;
    }
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QString year = part.trimmed();
        if (year.isEmpty()) {
            *error = QStringLiteral("--years \"%1\" has an empty entry; write the years like 2019,2020").arg(text);
            return false;
        }
        if (!yearForm.match(year).hasMatch()) {
            *error = QStringLiteral("--years wants four-digit years separated by commas (e.g. 2019,2020); \"%1\" is "
                                    "not one")
                         .arg(year);
            return false;
        }
        if (years->contains(year)) {
            *error = QStringLiteral("--years names %1 more than once").arg(year);
            return false;
        }
        *years << year;
    }
    return true;
}

QString byteText(qint64 bytes)
{
    return QStringLiteral("%1 MB（%2 字节）").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1).arg(bytes);
}

// The plan's lines for people: one per month, one per year, one per folder that needs space.
void printClearPlan(const QJsonObject& plan)
{
    for (const QJsonValue& year : plan[QStringLiteral("years")].toArray()) {
        for (const QJsonValue& month : year[QStringLiteral("months")].toArray()) {
            QString line = month[QStringLiteral("period")].toString() + QLatin1Char(' ') +
                           month[QStringLiteral("action")].toString() + QLatin1Char(' ') +
                           tableCountsText(month[QStringLiteral("tables")].toArray(), QStringLiteral("selected")) +
                           QStringLiteral(" precheck=%1").arg(month[QStringLiteral("precheck")].toInt());
            for (const char* key : {"precheckText", "reason"}) {
                const QString text = month[QLatin1String(key)].toString();
                if (!text.isEmpty())
                    line += QLatin1Char(' ') + QLatin1String(key) + QLatin1Char('=') + text;
            }
            printValue(QStringLiteral("month"), line);
        }
        printValue(QStringLiteral("year"),
                   QStringLiteral("%1 archive=%2 data_bytes=%3 archive_bytes=%4")
                       .arg(year[QStringLiteral("year")].toString(),
                            year[QStringLiteral("archive")].toBool() ? QStringLiteral("yes") : QStringLiteral("no"))
                       .arg(year[QStringLiteral("dataBytesEstimate")].toInteger())
                       .arg(year[QStringLiteral("archiveBytesEstimate")].toInteger()));
    }
    for (const QJsonValue& need : plan[QStringLiteral("space")].toArray()) {
        printValue(QStringLiteral("space"),
                   QStringLiteral("%1 folder=%2 needed=%3 file_system_needed=%4 available=%5 enough=%6")
                       .arg(need[QStringLiteral("purpose")].toString(), need[QStringLiteral("folder")].toString())
                       .arg(need[QStringLiteral("neededBytes")].toInteger())
                       .arg(need[QStringLiteral("fileSystemNeededBytes")].toInteger())
                       .arg(need[QStringLiteral("availableBytes")].toInteger())
                       .arg(need[QStringLiteral("enough")].toBool() ? QStringLiteral("yes") : QStringLiteral("no")));
    }
}

// Why a real run would not start for want of space: each folder short of it, how much it needs
// and how much there is. Empty when there is enough everywhere.
QString spaceShortage(const QJsonObject& plan)
{
    QStringList parts;
    for (const QJsonValue& need : plan[QStringLiteral("space")].toArray()) {
        if (need[QStringLiteral("enough")].toBool())
            continue;
        parts << QStringLiteral("%1（%2）所在磁盘需要%3的可用空间，现有%4")
                     .arg(quotedPath(need[QStringLiteral("folder")].toString()),
                          need[QStringLiteral("purpose")].toString(),
                          byteText(need[QStringLiteral("fileSystemNeededBytes")].toInteger()),
                          byteText(need[QStringLiteral("availableBytes")].toInteger()));
    }
    return parts.join(QStringLiteral("；"));
}

QString dryRunResult(const QJsonObject& plan)
{
    int clear = 0, kept = 0, archives = 0;
    qint64 rows = 0;
    for (const QJsonValue& year : plan[QStringLiteral("years")].toArray()) {
        archives += year[QStringLiteral("archive")].toBool() ? 1 : 0;
        for (const QJsonValue& month : year[QStringLiteral("months")].toArray()) {
            const QString action = month[QStringLiteral("action")].toString();
            if (action == QLatin1String("clear") || action == QLatin1String("adopt")) {
                ++clear;
                for (const QJsonValue& t : month[QStringLiteral("tables")].toArray())
                    rows += t[QStringLiteral("selected")].toInteger();
            } else if (action == QLatin1String("not-cleared")) {
                ++kept;
            }
        }
    }
    QString text = QStringLiteral("试运行，未做任何更改：将清理%1个月（%2行）并写出%3个备份文件，%4个月无法清理")
                       .arg(clear)
                       .arg(rows)
                       .arg(archives)
                       .arg(kept);
    if (plan[QStringLiteral("asksConfirmation")].toBool())
        text += QStringLiteral("；运行会先显示警告并询问是否继续");
    if (!plan[QStringLiteral("spaceEnough")].toBool())
        text += QStringLiteral("；空间不足，实际运行将拒绝开始");
    return text;
}

// A real run's accounting per year, month and table: rows selected before the run (the plan),
// written and verified (the rows the new archive of the year holds and reads back whole), cleared
// (gone from the database since).
QJsonArray clearAccounting(const QJsonObject& plan, const QStringList& archives, QString* error)
{
    QMap<QString, QJsonObject> archiveOfYear;
    for (const QString& archive : archives) {
        QJsonObject rows;
        if (askModule(QJsonObject{{QStringLiteral("command"), QStringLiteral("archive-rows")},
                                  {QStringLiteral("archive"), archive}},
                      &rows, error))
            archiveOfYear[rows[QStringLiteral("year")].toString().left(4)] = rows;
    }
    QJsonArray periods;
    for (const QJsonValue& year : plan[QStringLiteral("years")].toArray())
        for (const QJsonValue& month : year[QStringLiteral("months")].toArray())
            periods.append(month[QStringLiteral("period")]);
    QJsonObject now;
    if (!currentMonthRows(periods, &now, error))
        return {};
    QJsonArray years;
    for (const QJsonValue& yearValue : plan[QStringLiteral("years")].toArray()) {
        const QString year = yearValue[QStringLiteral("year")].toString();
        const QJsonObject archive = archiveOfYear.value(year);
        QMap<QString, QJsonObject> archived;
        for (const QJsonValue& m : archive[QStringLiteral("months")].toArray())
            archived[m[QStringLiteral("period")].toString()] = m.toObject();
        QJsonArray months;
        for (const QJsonValue& monthValue : yearValue[QStringLiteral("months")].toArray()) {
            const QString period = monthValue[QStringLiteral("period")].toString();
            const QJsonObject inArchive = archived.value(period);
            const bool sound = inArchive[QStringLiteral("reason")].toString().isEmpty();
            const QJsonArray after = now[period].toArray();
            const QJsonArray before = monthValue[QStringLiteral("tables")].toArray();
            QJsonArray tables;
            for (qsizetype i = 0; i < before.size(); ++i) {
                const qint64 selected = before[i][QStringLiteral("selected")].toInteger();
                const qint64 written = inArchive[QStringLiteral("tables")][i][QStringLiteral("inArchive")].toInteger();
                const bool plannedClear = monthValue[QStringLiteral("action")].toString() == QLatin1String("clear");
                tables.append(QJsonObject{
                    {QStringLiteral("table"), before[i][QStringLiteral("table")]},
                    {QStringLiteral("selected"), selected},
                    {QStringLiteral("written"), written},
                    {QStringLiteral("verified"), sound ? written : 0},
                    {QStringLiteral("cleared"), plannedClear ? qMax<qint64>(0, selected - after[i].toInteger()) : 0},
                    {QStringLiteral("left"), after[i].toInteger()}});
            }
            QJsonObject month = monthValue.toObject();
            month[QStringLiteral("tables")] = tables;
            month[QStringLiteral("inArchive")] =
                !inArchive.isEmpty() && inArchive[QStringLiteral("action")] != QLatin1String("none");
            months.append(month);
        }
        QJsonObject y{{QStringLiteral("year"), year}, {QStringLiteral("months"), months}};
        if (!archive.isEmpty())
            y.insert(QStringLiteral("archive"), archive[QStringLiteral("archive")]);
        years.append(y);
    }
    return years;
}

// One agent's clear or dry run in the open session; its JSON goes into `agentJson`.
AgentEnding clearAgent(HostSession& session, const CommandLine& cl, const QStringList& wanted, bool allAgents,
                       QJsonObject& agentJson)
{
    const bool dryRun = cl.flag(QStringLiteral("dry-run"));
    QString error;
    // Host message boxes: the confirmation question is answered yes, every box is printed.
    QWidget* form = session.openScriptedModule(&error);
    if (!form)
        return agentNotDone(error);

    int missing = 0;
    QStringList years;
    for (const QString& year : wanted) {
        QCheckBox* box = nullptr;
        for (int i = 0; i < 10 && !box; ++i) {
            auto* b = form->findChild<QCheckBox*>(QStringLiteral("CBX%1").arg(i));
            if (b && b->isVisible() && b->text().left(4) == year)
                box = b;
        }
        if (!box) {
            // Every agent has years of its own: with --all-agents a year one of them lacks is
            // simply not that agent's.
            note(allAgents ? QStringLiteral("扣缴义务人 %1 没有 %2 年度的数据，跳过").arg(session.agent(), year)
                           : QStringLiteral("no year box for %1").arg(year));
            missing += allAgents ? 0 : 1;
            continue;
        }
        years << year;
        if (!dryRun)
            box->setChecked(true);
    }
    if (missing > 0)
        return agentNotDone(QStringLiteral("%1 of the years has no box in the window").arg(missing));
    if (years.isEmpty()) {
        const QString text = QStringLiteral("没有所选的年度，未做任何更改");
        printValue(QStringLiteral("result"), text);
        return {0, text};
    }

    auto* clearButton = form->findChild<QWidget*>(QStringLiteral("btnClear"));
    auto* folderEdit = form->findChild<QLineEdit*>(QStringLiteral("edtBFLJ"));
    if (!clearButton || !folderEdit)
        return agentNotDone(QStringLiteral("the module window has no clear button or backup folder field"));

    // The run's plan: the dry run's answer, and before a real run the check of the free space.
    const QString backupDir = dryRun && cl.has(QStringLiteral("backup-dir"))
                                  ? QFileInfo(cl.value(QStringLiteral("backup-dir"))).absoluteFilePath()
                                  : folderEdit->text();
    QJsonObject plan;
    const QJsonObject request{{QStringLiteral("command"), QStringLiteral("clear-plan")},
                              {QStringLiteral("years"), QJsonArray::fromStringList(years)},
                              {QStringLiteral("backupDir"), backupDir},
                              {QStringLiteral("checkRows"), dryRun},
                              {QStringLiteral("declineWarnings"), cl.flag(QStringLiteral("decline-warnings"))}};
    if (const std::optional<AgentEnding> refused = askForPlan(request, &plan, &agentJson))
        return *refused;
    if (dryRun) {
        printClearPlan(plan);
        const QString text = dryRunResult(plan);
        printValue(QStringLiteral("result"), text);
        return {0, text};
    }
    const QString shortage = spaceShortage(plan);
    if (!shortage.isEmpty())
        return agentNotDone(QStringLiteral("空间不足，未开始备份清理，未做任何更改：") + shortage);

    const QStringList folders{folderEdit->text(), subAppPath(state().curSubAppCode) + QStringLiteral("TEMP")};
    const QSet<QString> before = archivesIn(folders);

    // The whole run happens inside the click: progress window, dialogs and all.
    const QPointer<QWidget> window(form);
    forgetRunEnding(form);
    DialogAnswerer answerer(cl.flag(QStringLiteral("decline-warnings")));
    std::optional<QString> password; // read and checked by runClear already
    (void)passwordFromCommandLine(cl, &password, &error);
    const PasswordAnswerer passwordAnswerer(password);
    ProgressReporter progress(ProgressReporter::styleFor(cl));
    progress.followProgressWindow();
    clickWidget(clearButton);
    settle(100);
    progress.finish();
    if (passwordAnswerer.problem())
        return agentNotDone(*passwordAnswerer.problem());

    for (const QString& line : answerer.warnings)
        printValue(QStringLiteral("warning"), line);
    for (const QString& line : answerer.results)
        printValue(QStringLiteral("line"), line);
    QStringList written = QStringList(archivesIn(folders).subtract(before).values());
    written.sort();
    for (const QString& archive : written)
        printValue(QStringLiteral("archive"), QDir::toNativeSeparators(archive));
    const QString summary = window ? window->property(kRunSummaryProperty).toString() : QString();
    AgentEnding ending{reportRunEnding(window.data()), summary};
    if (ending.exitCode == kExitFailed)
        ending.result = QStringLiteral("not done");
    if (cl.flag(QStringLiteral("json"))) {
        agentJson.remove(QStringLiteral("years"));
        agentJson.insert(QStringLiteral("years"), clearAccounting(plan, written, &error));
        agentJson.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(answerer.warnings));
        agentJson.insert(QStringLiteral("lines"), QJsonArray::fromStringList(answerer.results));
        QStringList nativeArchives;
        for (const QString& a : written)
            nativeArchives << QDir::toNativeSeparators(a);
        agentJson.insert(QStringLiteral("archives"), QJsonArray::fromStringList(nativeArchives));
    }
    return ending;
}

int runClear(const CommandLine& cl)
{
    QStringList years;
    QString error;
    if (!parseYears(cl.value(QStringLiteral("years")), &years, &error))
        return usageError(error);
    const bool allAgents = cl.flag(QStringLiteral("all-agents"));
    if (allAgents && cl.has(QStringLiteral("agent")))
        return usageError(QStringLiteral("--agent and --all-agents exclude each other"));
    const bool dryRun = cl.flag(QStringLiteral("dry-run"));
    JsonReport report(QStringLiteral("clear"), dryRun, cl.flag(QStringLiteral("json")));

    std::optional<QString> password;
    HostSession session;
    if (!passwordFromCommandLine(cl, &password, &error) || !session.start(cl, &error)) {
        failRun(error);
        return report.finish(kExitFailed, QStringLiteral("not done: ") + error);
    }
    session.stopOnSignals();

    // A backup folder chosen earlier by the user is kept in the per-user settings; a dry run
    // only looks at the folder.
    if (cl.has(QStringLiteral("backup-dir")) && !dryRun) {
        const QString folder = QFileInfo(cl.value(QStringLiteral("backup-dir"))).absoluteFilePath();
        MakeOwnerOnlyPath(folder);
        WriteIniValueString(toGbk(subAppUserConfigFile(state().curSubAppCode)).constData(), "SysConfig", "BFPATH",
                            toGbk(folder).constData());
    }

    // With a password file the run makes AES-256 archives; the user's setting is put back after.
    const StrongModeForRun strongMode(password.has_value() && !dryRun);
    return runForAgents(
        session, allAgents, report,
        [&](QJsonObject& agentJson) { return clearAgent(session, cl, years, allAgents, agentJson); },
        dryRun ? QStringLiteral("试运行") : QString());
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("clear"),
    .usage = QStringLiteral(
        "--home DIR --years 2019,2020 [--backup-dir DIR] [--password-file FILE] [--decline-warnings] "
        "[--dry-run] [--json] [--agent CODE | --all-agents] [--quiet]"),
    .summary =
        QStringLiteral("通过模块窗口备份并清理指定年度的数据（自动回答窗口的对话框），输出结果行和写出的备份文件"),
    .details = QStringLiteral(
        "--dry-run：只说明运行会做什么（每月的宿主检查结果、各表行数、备份文件的估计大小、\n"
        "工作文件夹、备份文件夹和压缩数据库所需的空间），不做任何更改。\n"
        "实际运行前同样计算所需空间，空间不足时不开始（退出码 1）。\n"
        "--json：在标准输出上输出一个 JSON 文档，供人阅读的行改到标准错误。\n"
        "--agent CODE：为此安装的另一个扣缴义务人运行；--all-agents：依次为每个扣缴义务人运行。\n"
        "--password-file FILE：本次备份文件用 AES-256 加密，密码是文件的第一行（文件权限须为 600）；\n"
        "恢复这些备份文件时需要同一个密码。不给出时按用户的设置（默认：与各版本通用的加密）。"),
    .valueOptions = {QStringLiteral("years"), QStringLiteral("backup-dir"), QStringLiteral("agent"),
                     QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("decline-warnings"), QStringLiteral("quiet"), QStringLiteral("dry-run"),
                    QStringLiteral("json"), QStringLiteral("all-agents")},
    .maxPositional = 0,
    .gui = true,
    .run = runClear,
})

} // namespace sjql::host
