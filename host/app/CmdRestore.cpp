// SPDX-License-Identifier: MIT
// sjql-host restore: the restore run driven through the module's own window, as a user does it:
// press the restore button, choose the archives in the open dialog, wait for the progress window
// and read the result dialog. Prints the result lines ("line=..."); boxes shown by the host
// services are printed as "box=...". The last line is the run's summary ("result=..."), the exit
// code its ending; Ctrl-C stops the run at the module's next safe point. While the run goes on,
// the progress window's operation and position are shown on stderr.
#include "Commands.h"
#include "HostSession.h"
#include "PasswordFile.h"
#include "ProgressReporter.h"
#include "host/services/HostServicesAdmin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
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

int runRestore(const CommandLine& cl)
{
    if (cl.positional.isEmpty())
        return usageError(QStringLiteral("name the archives to restore, e.g. restore --home DIR 2008.zip 2009.zip"));
    // The same archive twice would be restored twice in one run: a wrong command line.
    QString twice;
    const QStringList archives = distinctArchivePaths(cl.positional, &twice);
    if (archives.isEmpty())
        return usageError(QStringLiteral("archive %1 is named more than once").arg(twice));
    for (const QString& a : archives) {
        if (!QFileInfo(a).isFile())
            return failRun(QStringLiteral("archive %1 does not exist").arg(a));
    }

    QString error;
    std::optional<QString> password;
    if (!passwordFromCommandLine(cl, &password, &error))
        return failRun(error);
    HostSession session;
    if (!session.start(cl, &error))
        return failRun(error);
    session.stopOnSignals();
    QWidget* form = session.openScriptedModule(&error);
    if (!form)
        return failRun(error);
    auto* restoreButton = form->findChild<QWidget*>(QStringLiteral("btnRegain"));
    if (!restoreButton)
        return failRun(QStringLiteral("the module window has no restore button"));

    // The whole run happens inside the click: open dialog, progress window and result dialog.
    const QPointer<QWidget> window(form);
    forgetRunEnding(form);
    RestoreAnswerer answerer(archives);
    const PasswordAnswerer passwordAnswerer(password);
    ProgressReporter progress(ProgressReporter::styleFor(cl));
    progress.followProgressWindow();
    clickWidget(restoreButton);
    settle(100);
    progress.finish();
    if (passwordAnswerer.problem())
        return failRun(*passwordAnswerer.problem());
    if (!answerer.chose)
        return failRun(QStringLiteral("the restore button showed no open dialog"));
    for (const QString& line : answerer.results)
        printValue(QStringLiteral("line"), line);
    return reportRunEnding(window.data());
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("restore"),
    .usage = QStringLiteral("--home DIR [--password-file FILE] [--quiet] ARCHIVE..."),
    .summary = QStringLiteral("通过模块窗口恢复备份文件（在窗口的打开对话框中选中它们），输出结果行"),
    .details =
        QStringLiteral("--password-file FILE：AES-256 加密的备份文件的密码，为文件的第一行（文件权限须为 600）。"),
    .valueOptions = {QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("quiet")},
    .maxPositional = -1,
    .gui = true,
    .run = runRestore,
})

} // namespace sjql::host
