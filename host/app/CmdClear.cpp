// SPDX-License-Identifier: MIT
// sjql-host clear: the backup-and-clear run driven through the module's own window, as a user does
// it: tick the year boxes, press the clear button, confirm the host's question, answer the warnings
// dialog, and read the result dialog. Prints the result lines ("line=...") and the archives written
// ("archive=..."); boxes shown by the host services are printed as "box=...". The last line is the
// run's summary ("result=..."), the exit code its ending; Ctrl-C stops the run between months.
// While the run goes on, the progress window's operation and position are shown on stderr.
#include "Commands.h"
#include "HostSession.h"
#include "PasswordFile.h"
#include "ProgressReporter.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
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

int runClear(const CommandLine& cl)
{
    QStringList years;
    QString error;
    if (!parseYears(cl.value(QStringLiteral("years")), &years, &error))
        return usageError(error);
    std::optional<QString> password;
    if (!passwordFromCommandLine(cl, &password, &error))
        return failRun(error);

    HostSession session;
    if (!session.start(cl, &error))
        return failRun(error);
    session.stopOnSignals();

    // A backup folder chosen earlier by the user is kept in the per-user settings.
    if (cl.has(QStringLiteral("backup-dir"))) {
        const QString folder = QFileInfo(cl.value(QStringLiteral("backup-dir"))).absoluteFilePath();
        MakeOwnerOnlyPath(folder);
        WriteIniValueString(toGbk(subAppUserConfigFile(state().curSubAppCode)).constData(), "SysConfig", "BFPATH",
                            toGbk(folder).constData());
    }

    // With a password file this run makes AES-256 archives; the user's setting is restored after.
    const StrongModeForRun strongMode(password.has_value());

    // Host message boxes: the confirmation question is answered yes, every box is printed.
    QWidget* form = session.openScriptedModule(&error);
    if (!form)
        return failRun(error);

    int missing = 0;
    for (const QString& year : years) {
        QCheckBox* box = nullptr;
        for (int i = 0; i < 10 && !box; ++i) {
            auto* b = form->findChild<QCheckBox*>(QStringLiteral("CBX%1").arg(i));
            if (b && b->isVisible() && b->text().left(4) == year)
                box = b;
        }
        if (!box) {
            note(QStringLiteral("no year box for %1").arg(year));
            ++missing;
            continue;
        }
        box->setChecked(true);
    }
    if (missing > 0)
        return failRun(QStringLiteral("%1 of the years has no box in the window").arg(missing));

    auto* clearButton = form->findChild<QWidget*>(QStringLiteral("btnClear"));
    auto* folderEdit = form->findChild<QLineEdit*>(QStringLiteral("edtBFLJ"));
    if (!clearButton || !folderEdit)
        return failRun(QStringLiteral("the module window has no clear button or backup folder field"));
    const QStringList folders{folderEdit->text(), subAppPath(state().curSubAppCode) + QStringLiteral("TEMP")};
    const QSet<QString> before = archivesIn(folders);

    // The whole run happens inside the click: progress window, dialogs and all.
    const QPointer<QWidget> window(form);
    forgetRunEnding(form);
    DialogAnswerer answerer(cl.flag(QStringLiteral("decline-warnings")));
    const PasswordAnswerer passwordAnswerer(password);
    ProgressReporter progress(ProgressReporter::styleFor(cl));
    progress.followProgressWindow();
    clickWidget(clearButton);
    settle(100);
    progress.finish();
    if (passwordAnswerer.problem())
        return failRun(*passwordAnswerer.problem());

    for (const QString& line : answerer.warnings)
        printValue(QStringLiteral("warning"), line);
    for (const QString& line : answerer.results)
        printValue(QStringLiteral("line"), line);
    QStringList written = QStringList(archivesIn(folders).subtract(before).values());
    written.sort();
    for (const QString& archive : written)
        printValue(QStringLiteral("archive"), QDir::toNativeSeparators(archive));
    return reportRunEnding(window.data());
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("clear"),
    .usage = QStringLiteral(
        "--home DIR --years 2019,2020 [--backup-dir DIR] [--password-file FILE] [--decline-warnings] [--quiet]"),
    .summary =
        QStringLiteral("通过模块窗口备份并清理指定年度的数据（自动回答窗口的对话框），输出结果行和写出的备份文件"),
    .details = QStringLiteral(
        "--password-file FILE：本次备份文件用 AES-256 加密，密码是文件的第一行（文件权限须为 600）；\n"
        "恢复这些备份文件时需要同一个密码。不给出时按用户的设置（默认：与各版本通用的加密）。"),
    .valueOptions = {QStringLiteral("years"), QStringLiteral("backup-dir"), QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("decline-warnings"), QStringLiteral("quiet")},
    .maxPositional = 0,
    .gui = true,
    .run = runClear,
})

} // namespace sjql::host
