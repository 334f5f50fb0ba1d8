// SPDX-License-Identifier: MIT
// TfrmsjqlMgr's restore: the restore button lets the user pick backup archives in the open dialog
// dlgOpenHF and starts a progress job whose single item runs RestoreJob on the GUI thread; the year
// list is reloaded when the database changed, and the unpack folder never outlives the run.
//
// The unpack folder is the agent's own below the work folder, so that a restore for one agent never
// meets files of another. After each run the window keeps the run's ending and summary on itself
// (RunOutcome.h) for the host's scripted mode.
//
// dlgOpenHF is a child of the window, created on first use and kept, like the window's other
// components: the item procedure reads the chosen files from it. It is the toolkit's own dialog,
// never the desktop's, so that scripted runs (the host's scripted mode, tests) find it among the
// application's modal widgets by its object name and choose files in it as a user would.
#include "archive/FileUtils.h"
#include "cleanup/RestoreJob.h"
#include "cleanup/RunOutcome.h"
#include "cleanup/WorkFolders.h"
#include "cleanup/f_sjqlMgr.h"
#include "entry/ModuleContext.h"
#include "ui/CustomProgress.h"
#include "ui/DispResult.h"
#include "ui/XPControls.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>

using sjql::ui::TDispResultList;
using sjql::ui::TMyProgress;
using sjql::ui::TProgressItem;

namespace {

// Removes the unpack folder when the restore is over, however it ends.
class UnpackFolderCleanup
{
public:
    explicit UnpackFolderCleanup(QString folder) : m_folder(std::move(folder)) {}
    ~UnpackFolderCleanup()
    {
        if (sjql::DirExists(m_folder))
            (void)sjql::DeleteTree(m_folder);
    }
    UnpackFolderCleanup(const UnpackFolderCleanup&) = delete;
    UnpackFolderCleanup& operator=(const UnpackFolderCleanup&) = delete;

private:
    QString m_folder;
};

// <work folder>/<agent folder>/UnZipDir
QString unpackFolderOf(const QString& workDir)
{
    return sjql::AddBackslash(sjql::AgentWorkDir(workDir, sjql::GetAgentCode())) + QStringLiteral("UnZipDir");
}

} // namespace

void TfrmsjqlMgr::btnRegainClick()
{
    const QString unpackFolder = unpackFolderOf(FWorkDir);

    auto* dlgOpenHF = findChild<QFileDialog*>(QStringLiteral("dlgOpenHF"), Qt::FindDirectChildrenOnly);
    if (!dlgOpenHF) {
        dlgOpenHF = new QFileDialog(this);
        dlgOpenHF->setObjectName(QStringLiteral("dlgOpenHF"));
        dlgOpenHF->setOption(QFileDialog::DontUseNativeDialog);
        dlgOpenHF->setAcceptMode(QFileDialog::AcceptOpen);
        // Several archives at once; names in either case, as Windows-made archives end in ".ZIP".
        dlgOpenHF->setFileMode(QFileDialog::ExistingFiles);
        dlgOpenHF->setNameFilter(QStringLiteral("(*.ZIP) (*.zip *.ZIP)"));
        dlgOpenHF->setSizeGripEnabled(true);
    }
    dlgOpenHF->setDirectory(edtBFLJ->text());
    if (dlgOpenHF->exec() != QDialog::Accepted || dlgOpenHF->selectedFiles().isEmpty())
        return;

    UnpackFolderCleanup cleanup(unpackFolder);
    // Until the run itself says otherwise, a run that did not get to restore anything failed.
    setProperty(sjql::kRunEndingProperty, static_cast<int>(sjql::RunEnding::Failures));
    setProperty(sjql::kRunSummaryProperty, QStringLiteral("数据恢复没有运行"));
    // The item's parameter: the unpack folder with its trailing separator, zero-terminated; it
    // lives on this frame until the job is over.
    const QByteArray param = QFile::encodeName(sjql::AddBackslash(unpackFolder));
    {
        TMyProgress job(QStringLiteral("正在数据恢复..."), true, true, false, false, sjql::ui::pmItems);
        TProgressItem item;
        item.Param = const_cast<char*>(param.constData());
        item.Proc = [this](TMyProgress* sender, void* p, QString& operation, qint16& progress,
                           TDispResultList* results) {
            TDispResultList fallback;
            return RestoreArchives(sender, p, operation, progress, results ? *results : fallback);
        };
        job.Items.Add(item);
        (void)job.Run();
    }
    if (FCleared)
        RefreshYearList();
}

bool TfrmsjqlMgr::RestoreArchives(TMyProgress* sender, void* param, QString& operation, qint16& progress,
                                  TDispResultList& results)
{
    Q_UNUSED(sender);
    FCleared = false;
    sjql::RestoreSettings settings;
    if (auto* dlg = findChild<QFileDialog*>(QStringLiteral("dlgOpenHF"), Qt::FindDirectChildrenOnly))
        settings.archives = dlg->selectedFiles();
    settings.unpackFolder =
        param ? QFile::decodeName(static_cast<const char*>(param)) : sjql::AddBackslash(unpackFolderOf(FWorkDir));
    settings.backupFolder = edtBFLJ->text();
    settings.agentCode = sjql::GetAgentCode();
    settings.hostAppCode = sjql::GetHostAppCode();

    sjql::RestoreJob job(std::move(settings));
    job.processEvents = [] { QCoreApplication::processEvents(); };
    const bool ok = job.Run(operation, progress, results);
    FCleared = job.Cleared();
    const sjql::RunOutcome outcome = job.outcome();
    setProperty(sjql::kRunEndingProperty, static_cast<int>(outcome.ending));
    setProperty(sjql::kRunSummaryProperty, outcome.summary);
    return ok;
}
