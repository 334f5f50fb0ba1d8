// SPDX-License-Identifier: MIT
// TfrmsjqlMgr's backup-and-clear: the clear button starts a progress job whose single item runs
// BackupJob on the GUI thread; the window supplies what needs a screen (the warnings dialog, the
// compaction's error box), refreshes its year list when the run reached its end or changed the
// database, and keeps the run's ending on itself for the host's scripted mode.
#include "archive/FileUtils.h"
#include "context/ModuleContext.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"
#include "jobs/BackupJob.h"
#include "jobs/WorkFolders.h"
#include "ui/CustomProgress.h"
#include "ui/DispResult.h"
#include "ui/XPControls.h"
#include "window/PasswordDialog.h"
#include "window/f_sjqlMgr.h"

#include <QCoreApplication>

using sjql::TDispResultList;
using sjql::ui::TMyProgress;
using sjql::ui::TProgressItem;

void TfrmsjqlMgr::btnClearClick()
{
    // A backup folder that cannot be created is not reported here: packing into it fails later and
    // the archives go to the fallback folder.
    const QString backupDir = BackupFolder();
    if (!sjql::DirExists(backupDir))
        sjql::ForceDirs(backupDir);
    if (!sjql::DirExists(FWorkDir))
        sjql::ForceDirs(FWorkDir);
    const sjql::EmptyWorkFolderRemover tidyUp(FWorkDir, sjql::GetAgentCode());
    FCleared = false;
    // Nothing ran (yet): a clean ending without a summary.
    SetRunOutcome(sjql::RunOutcome{});

    if (CheckedYears().isEmpty()) {
        InforMsg(sjql::MsgNoYearTicked, "", 1);
        return;
    }
    // The catalogue's text is copied before the next service call replaces it.
    const QByteArray question(GetMsg(sjql::MsgConfirmClear, "", 1));
    if (!ConfirmMsgBoxA(question.constData(), 0))
        return;
    // The strong mode: AES-256 archives with a password chosen for this run.
    FArchivePassword.reset();
    if (sjql::window::StrongArchivesWanted() && !(FArchivePassword = sjql::window::AskNewArchivePassword(this)))
        return;

    TMyProgress job(QStringLiteral("正在备份清理文件..."), true, true, false, false, sjql::ui::pmItems);
    TProgressItem item;
    item.Proc = [this](TMyProgress* sender, void* param, QString& operation, qint16& progress,
                       TDispResultList* results) {
        TDispResultList fallback;
        return BackupAndClear(sender, param, operation, progress, results ? *results : fallback);
    };
    job.Items.Add(item);
    // Until the run itself tells how it ended, an item that never returned counts as a failure.
    FBackupOutcome = sjql::RunOutcome{sjql::RunEnding::Failures, QStringLiteral("备份清理意外中止，请查看结果提示")};
    (void)job.Run();
    FArchivePassword.reset();
    SetRunOutcome(FBackupOutcome);

    if (FCleared)
        RefreshYearList();
}

void TfrmsjqlMgr::SetRunOutcome(const sjql::RunOutcome& outcome)
{
    setProperty(sjql::kRunEndingProperty, int(outcome.ending));
    setProperty(sjql::kRunSummaryProperty, outcome.summary);
}

bool TfrmsjqlMgr::BackupAndClear(TMyProgress* sender, void* param, QString& operation, qint16& progress,
                                 TDispResultList& results)
{
    Q_UNUSED(sender);
    Q_UNUSED(param);
    sjql::BackupJobSettings settings;
    settings.agentCode = sjql::GetAgentCode();
    settings.hostAppCode = sjql::GetHostAppCode();
    settings.backupDir = BackupFolder();
    settings.workDir = FWorkDir;
    const QByteArray subAppCode(GetCurSubAppCode());
    settings.subAppDir = sjql::fromGbk(GetSubAppPath(subAppCode.constData()));
    settings.years = CheckedYears();
    if (FArchivePassword)
        settings.protection = sjql::StrongProtection(*FArchivePassword);

    sjql::BackupJobCallbacks callbacks;
    callbacks.confirmWarnings = [](TDispResultList& warnings) {
        return sjql::ui::ShowResultDialogEx(&warnings, QStringLiteral("系统提示"), false, true, QString(), QString());
    };
    // The window's compaction shows its own failure text; the run adds its line and ending.
    callbacks.compact = [this] { return CompactAccessDatabase(); };

    sjql::BackupJob job(std::move(settings), std::move(callbacks));
    const bool ended = job.Run(operation, progress, results);
    FCleared = job.cleared();
    FBackupOutcome = job.outcome();
    return ended;
}
