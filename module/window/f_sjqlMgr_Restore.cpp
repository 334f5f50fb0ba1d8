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
#include "context/ModuleContext.h"
#include "jobs/Drives.h"
#include "jobs/RestoreJob.h"
#include "jobs/RunOutcome.h"
#include "jobs/WorkFolders.h"
#include "ui/CustomProgress.h"
#include "ui/DispResult.h"
#include "ui/XPControls.h"
#include "window/PasswordDialog.h"
#include "window/f_sjqlMgr.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QListView>
#include <QScreen>
#include <QSplitter>
#include <QTreeView>

using sjql::TDispResultList;
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

// The archive names are long ("个税代扣代缴备份文件2019年_<agent>_<time stamp>.zip") and tell the
// archives apart only by their year and time stamp: the dialog lists them in detail, the name column
// as wide as the longest name, and a name too long for any column loses its end, never its middle.
void ShowWholeArchiveNames(QFileDialog* dialog)
{
    dialog->setViewMode(QFileDialog::Detail);
    if (auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        tree->setTextElideMode(Qt::ElideRight);
        tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    }
    if (auto* list = dialog->findChild<QListView*>(QStringLiteral("listView")))
        list->setTextElideMode(Qt::ElideRight);
    // Wide enough for a name, its size and date beside the folder list, within the screen.
    QSize size(900, 480);
    if (const QScreen* screen = dialog->screen())
        size = size.boundedTo(screen->availableSize());
    dialog->resize(size);
    // The places on the left keep their names readable too.
    if (auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({160, size.width() - 160});
}

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
        dlgOpenHF->setNameFilter(QStringLiteral("备份文件 (*.zip *.ZIP)"));
        dlgOpenHF->setSizeGripEnabled(true);
        dlgOpenHF->setWindowTitle(QStringLiteral("选择要恢复的备份文件"));
        dlgOpenHF->setLabelText(QFileDialog::LookIn, QStringLiteral("查找范围："));
        dlgOpenHF->setLabelText(QFileDialog::FileName, QStringLiteral("文件名："));
        dlgOpenHF->setLabelText(QFileDialog::FileType, QStringLiteral("文件类型："));
        dlgOpenHF->setLabelText(QFileDialog::Accept, QStringLiteral("打开"));
        dlgOpenHF->setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
        ShowWholeArchiveNames(dlgOpenHF);
    }
    // The dialog opens where the backups are: the folder in the box, or its nearest existing parent
    // before the first backup made it.
    dlgOpenHF->setDirectory(sjql::cleanup::NearestExistingFolder(BackupFolder(), sjql::cleanup::HomeFolder()));
    if (dlgOpenHF->exec() != QDialog::Accepted || dlgOpenHF->selectedFiles().isEmpty())
        return;
    // AES-256 archives (the strong mode) open only with the password chosen when they were made.
    FArchivePassword.reset();
    if (sjql::window::AnyStrongArchive(dlgOpenHF->selectedFiles()) &&
        !(FArchivePassword = sjql::window::AskArchivePassword(this)))
        return;

    // Destroyed after the unpack folder's removal: the agent's work folders go if it left them empty.
    const sjql::EmptyWorkFolderRemover tidyUp(FWorkDir, sjql::GetAgentCode());
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
    FArchivePassword.reset();
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
    settings.backupFolder = BackupFolder();
    settings.agentCode = sjql::GetAgentCode();
    settings.hostAppCode = sjql::GetHostAppCode();
    settings.strongPassword = FArchivePassword;

    sjql::RestoreJob job(std::move(settings));
    const bool ok = job.Run(operation, progress, results);
    FCleared = job.Cleared();
    const sjql::RunOutcome outcome = job.outcome();
    setProperty(sjql::kRunEndingProperty, static_cast<int>(outcome.ending));
    setProperty(sjql::kRunSummaryProperty, outcome.summary);
    return ok;
}
