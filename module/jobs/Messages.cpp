// SPDX-License-Identifier: MIT
#include "jobs/Messages.h"

#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

namespace sjql {

QString MessageLine(int code, const QStringList& params)
{
    const QByteArray joined = truncateGbk(toGbk(params.join(QChar(1))), 255);
    return fromGbk(GetMsg(code, joined.constData(), 1));
}

// --- backup-and-clear ---

QString PrecheckStatusText(int result)
{
    switch (result) {
    case 2:
        return QStringLiteral("当月未申报");
    case 3:
        return QStringLiteral("当月未反馈");
    case 4:
        return QStringLiteral("当月自查未申报");
    case 5:
        return QStringLiteral("当月自查已申报未反馈");
    case -1:
        return QStringLiteral("处理失败");
    default:
        return QStringLiteral("未知的检查结果(%1)").arg(result);
    }
}

QString UnfinishedYearCaption(const QString& year)
{
    return year + QStringLiteral("年(未完成)");
}

QString BackupMonthProgressText(const QString& period)
{
    return QStringLiteral("正在备份清理[") + period + QStringLiteral("]数据");
}

QString CompactionProgressText()
{
    return QStringLiteral("正在压缩数据库");
}

QString LeftoverUnreadableText(const QString& folder, const QString& file, const QString& error)
{
    return QStringLiteral("工作目录%1中留有该月无法读取的备份数据文件%2，未清理：%3").arg(folder, file, error);
}

QString LeftoverForeignRowsText(const QString& folder, const QString& file, const QString& problem)
{
    return QStringLiteral("工作目录%1中该月的备份数据文件%2含有不属于本扣缴义务人或本月的数据，未清理：%3")
        .arg(folder, file, problem);
}

QString LeftoverExtraRowsText(const QString& folder)
{
    return QStringLiteral("工作目录%1中留有该月的备份数据文件，其中有数据库中没有的数据，未清理").arg(folder);
}

QString ValueNotRestorableText(const QString& problem)
{
    return QStringLiteral("%1，未清理").arg(problem);
}

QString TableUnreadableText(const QString& table, const QString& error)
{
    return QStringLiteral("%1的数据无法读取，未清理：%2").arg(table, error);
}

QString DataFileWriteFailedText(const QString& error)
{
    return QStringLiteral("备份数据文件写入失败，未清理：%1").arg(error);
}

QString DataFileNotSyncedText(const QString& file)
{
    return QStringLiteral("备份数据文件%1无法写入磁盘，未清理").arg(file);
}

QString DataFileNotReadBackText(const QString& file, const QString& error)
{
    return QStringLiteral("备份数据文件%1无法读回，未清理：%2").arg(file, error);
}

QString DataFileRowsDifferText(const QString& file, qsizetype readBack, qsizetype selected)
{
    return QStringLiteral("备份数据文件%1读回的%2行与数据库中选出的%3行不一致，未清理")
        .arg(file, QString::number(readBack), QString::number(selected));
}

QString FolderNotSyncedText(const QString& folder)
{
    return QStringLiteral("备份目录%1无法写入磁盘，未清理").arg(folder);
}

QString ClearUnconfirmedText(const QString& message, const QString& folder, const QString& year)
{
    return message + QStringLiteral("；无法确认该月数据仍全部在数据库中，其备份数据文件保留在%1中，"
                                    "再次清理%2年度时将按数据库中的情况处理")
                         .arg(folder, year);
}

QString YearOnlyInWorkFolderLine(const QString& year, const QString& folder)
{
    return QStringLiteral("%1年度已清理的数据只保存在%2中，再次清理%1年度即可将其打包备份").arg(year, folder);
}

QString MonthsAlreadyArchivedLine(const QStringList& periods, const QString& archive)
{
    return QStringLiteral("所属期%1的数据已在备份文件%2中，工作目录中留下的副本已移除")
        .arg(periods.join(QStringLiteral("、")), archive);
}

QString YearNothingClearedLine(const QString& year)
{
    return QStringLiteral("%1年度没有月份被清理，未生成备份文件").arg(year);
}

QString BackupInterruptedLine(const QString& stoppedAt, int monthsCleared, const QStringList& yearsLeft)
{
    QString rest = QStringLiteral("所属期[%1]起的月份").arg(stoppedAt);
    if (!yearsLeft.isEmpty())
        rest += QStringLiteral("和%1年度").arg(yearsLeft.join(QStringLiteral("、")));
    return QStringLiteral("运行被中断：在所属期[%1]之前停止，本次清理了%2个月份；%3未处理，其数据仍保留在"
                          "数据库中，未作改动")
        .arg(stoppedAt, QString::number(monthsCleared), rest);
}

QString CompactionFailedLine(const QString& error)
{
    return QStringLiteral("数据库压缩失败：%1").arg(error);
}

QString SummaryNotWrittenText(const QString& error)
{
    return QStringLiteral("备份摘要文件无法写入：%1").arg(error);
}

QString ArchiveNotWrittenText(const QString& archive, const QString& error)
{
    return QStringLiteral("备份文件%1无法写入：%2").arg(archive, error);
}

QString ArchiveCheckFailedText(const QString& archive, const QString& error)
{
    return QStringLiteral("备份文件%1读回检查不通过，已删除：%2").arg(archive, error);
}

QString StatementFailedLogText(const QString& line)
{
    return line + QStringLiteral("（数据库语句执行失败，语句和原因见SQL错误日志）");
}

QString YearOnlyInWorkFolderText(const QString& year, const QString& folder)
{
    return QStringLiteral("%1年度已清理的数据只保存在%2中").arg(year, folder);
}

QString MonthFilesKeptText(const QString& period, const QString& folder)
{
    return QStringLiteral("所属期[%1]的备份数据文件保留在%2中").arg(period, folder);
}

QString BackupSummaryText(const BackupTally& tally)
{
    QStringList parts;
    parts << (tally.archives == 0 ? QStringLiteral("没有生成备份文件")
                                  : QStringLiteral("%1个年度已备份").arg(tally.archives));
    if (tally.monthsNotCleared > 0)
        parts << QStringLiteral("%1个月份未清理").arg(tally.monthsNotCleared);
    if (tally.statementFailed)
        parts << QStringLiteral("数据库语句执行失败");
    parts << tally.onlyInWorkFolder;
    if (tally.compactionFailed)
        parts << QStringLiteral("数据库压缩失败");
    if (tally.interrupted)
        parts << QStringLiteral("其余数据仍保留在数据库中");
    const QString head = tally.interrupted ? QStringLiteral("备份清理被中断")
                         : tally.statementFailed || !tally.onlyInWorkFolder.isEmpty() ? QStringLiteral("备份清理未完成")
                                                                                      : QStringLiteral("备份清理完成");
    return head + QStringLiteral("：") + parts.join(QStringLiteral("，"));
}

QString BackupDeclinedSummaryText()
{
    return QStringLiteral("备份清理未进行：提示未被确认，数据未作改动");
}

// --- restore ---

QString RestoreArchiveProgressText(const QString& archiveName)
{
    return QStringLiteral("开始解析") + archiveName + QStringLiteral("文件");
}

QString RestoreCheckProgressText(const QString& month)
{
    return QStringLiteral("正在检查[") + month + QStringLiteral("]的备份数据。");
}

QString RestoreRowsProgressHead(const QString& month, const QString& label)
{
    return QStringLiteral("正在还原[") + month + QLatin1Char(']') + label + QStringLiteral("。(");
}

QString DataFileUnreadableText(const QString& file, const QString& error)
{
    return QStringLiteral("备份数据文件%1无法读取（%2）").arg(file, error);
}

QString DataFileNotConvertibleText(const QString& file, const QString& error)
{
    return QStringLiteral("备份数据文件%1无法转换（%2）").arg(file, error);
}

QString DataFileForeignRowText(const QString& file, qint64 row, const QString& agent, const QString& month)
{
    return QStringLiteral("备份数据文件%1第%2行属于扣缴义务人%3的所属期%4，与备份摘要不符")
        .arg(file, QString::number(row), agent, month);
}

QString InvalidMonthText()
{
    return QStringLiteral("不是有效的年月");
}

QString MonthOutsideYearText(const QString& year)
{
    return QStringLiteral("不在备份文件的年度%1内").arg(year);
}

QString NoRowsInMonthFilesText()
{
    return QStringLiteral("三个备份数据文件中都没有数据");
}

QString MonthNotRestoredLine(const QString& month, const QString& reason)
{
    return QStringLiteral("所属期%1未恢复：%2。").arg(month, reason);
}

QString UnpackReasonLine(UnpackProblem problem, const QString& error)
{
    QString reason;
    switch (problem) {
    case UnpackProblem::NoSpace:
        reason = QStringLiteral("解压目录所在的磁盘空间不足");
        break;
    case UnpackProblem::WrongPassword:
        reason = QStringLiteral("密码不对，不是本系统生成的备份文件");
        break;
    case UnpackProblem::Refused:
        reason = QStringLiteral("内容不可信（成员过多、过大或名称不安全），未解压");
        break;
    case UnpackProblem::WriteFailed:
        reason = QStringLiteral("解压目录无法写入");
        break;
    case UnpackProblem::Unreadable:
    case UnpackProblem::None:
        reason = QStringLiteral("文件已损坏或无法读取");
        break;
    }
    return QStringLiteral("无法解压的原因：%1（%2）").arg(reason, error);
}

QString DataFileBrokenLine(const QString& file, const QString& error)
{
    return QStringLiteral("备份数据文件%1无法读取，恢复已中止：%2").arg(file, error);
}

QString RestoreInterruptedLine(const QStringList& committed, const QString& rolledBack, qsizetype untouched)
{
    QStringList parts;
    parts << (committed.isEmpty() ? QStringLiteral("没有已恢复并提交的备份文件")
                                  : QStringLiteral("已恢复并提交的备份文件：") + committed.join(QStringLiteral("、")));
    // The archive's transaction holds the host's clearing of its months too, so rolling it back
    // leaves those months as they were before the run.
    if (!rolledBack.isEmpty())
        parts << QStringLiteral("正在恢复的备份文件%1已全部回滚，其中各所属期的数据保持恢复前的状态").arg(rolledBack);
    if (untouched > 0)
        parts << QStringLiteral("其余%1个备份文件未处理").arg(untouched);
    return QStringLiteral("运行被中断：") + parts.join(QStringLiteral("；")) + QStringLiteral("。");
}

QString RestoreAbortedLine(const QString& what)
{
    return QStringLiteral("数据恢复异常中止：") + what;
}

QString SummaryUnreadableText(const QString& error)
{
    return QStringLiteral("备份摘要信息无法读取：%1").arg(error);
}

QString RestoreSummaryText(RunEnding ending, qsizetype total, int full, int partial)
{
    const QString counts = QStringLiteral("共%1个备份文件，完全恢复%2个，部分恢复%3个，未恢复%4个。")
                               .arg(total)
                               .arg(full)
                               .arg(partial)
                               .arg(total - full - partial);
    switch (ending) {
    case RunEnding::Clean:
        return QStringLiteral("数据恢复完成：") + counts;
    case RunEnding::Interrupted:
        return QStringLiteral("数据恢复被中断：") + counts;
    case RunEnding::Failures:
    case RunEnding::Busy:
        break;
    }
    return QStringLiteral("数据恢复未全部完成：") + counts;
}

} // namespace sjql
