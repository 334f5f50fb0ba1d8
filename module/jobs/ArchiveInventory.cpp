// SPDX-License-Identifier: MIT
#include "jobs/ArchiveInventory.h"

#include "archive/ArchiveMembers.h"
#include "archive/CompressUnit.h"
#include "context/ModuleContext.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/BackupFolders.h"
#include "jobs/BackupJob.h"
#include "jobs/BackupSummary.h"
#include "jobs/Messages.h"
#include "jobs/MonthRows.h"
#include "jobs/WorkFolders.h"
#include "support/AdtgReader.h"
#include "support/XmlDocument.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <map>

namespace sjql {

namespace {

// The restore's limits on an archive: a year holds at most twelve months of three files and the
// summary; the sizes only keep a crafted archive from filling the disk.
constexpr qint64 kMaxArchiveEntries = 1000;
constexpr qint64 kMaxUnpackedBytes = qint64(16) * 1024 * 1024 * 1024;

// What a backup archive's name tells: kind text, year, agent (path separators written as "_") and
// the time it was written, as BuildArchiveName makes it.
struct NameParts
{
    bool ok = false;
    QString kind, year, agent;
    QDateTime written;
};

NameParts partsOfName(const QString& fileName)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(个税代扣代缴备份文件|采集端数据备份文件)(\\d{4})年_(.*)_(\\d{17})\\.zip$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(fileName);
    NameParts parts;
    if (!m.hasMatch())
        return parts;
    parts.ok = true;
    parts.kind = m.captured(1);
    parts.year = m.captured(2);
    parts.agent = m.captured(3);
    parts.written = QDateTime::fromString(m.captured(4), QStringLiteral("yyyyMMddHHmmsszzz"));
    return parts;
}

// A member the restore would unpack in place: a bare file name, nothing a path could be made of.
bool isBareName(const QString& name)
{
    static const QRegularExpression unsafe(QStringLiteral("[/\\\\:]"));
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(unsafe);
}

bool isValidMonth(const QString& month)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}(0[1-9]|1[0-2])$"));
    return pattern.match(month).hasMatch();
}

QString verdictOf(UnpackProblem problem)
{
    switch (problem) {
    case UnpackProblem::WrongPassword:
        return QStringLiteral("wrong-password");
    case UnpackProblem::Refused:
        return QStringLiteral("refused");
    case UnpackProblem::NoSpace:
    case UnpackProblem::WriteFailed:
        return QStringLiteral("unchecked");
    case UnpackProblem::None:
    case UnpackProblem::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

// The directory's own checks, before anything is unpacked: what the restore refuses outright and
// what a backup never writes. False when the archive is refused (the verdict is set).
bool checkDirectory(const QList<ArchiveMember>& members, ArchiveReport* r)
{
    if (members.size() > kMaxArchiveEntries) {
        r->problems << QStringLiteral("备份文件有%1项，多于恢复接受的%2项").arg(members.size()).arg(kMaxArchiveEntries);
        r->verdict = QStringLiteral("refused");
        return false;
    }
    QSet<QString> seen;
    for (const ArchiveMember& m : members) {
        if (m.link)
            r->problems << QStringLiteral("成员“%1”是符号链接").arg(m.name);
        else if (m.folder)
            r->problems << QStringLiteral("成员“%1”是文件夹，备份文件中不应有文件夹").arg(m.name);
        else if (!isBareName(m.name))
            r->problems << QStringLiteral("成员名“%1”不安全（含有文件夹、盘符或..）").arg(m.name);
        else if (seen.contains(m.name.toLower()))
            r->problems << QStringLiteral("有两个成员都名为“%1”").arg(m.name);
        seen.insert(m.name.toLower());
    }
    if (r->problems.isEmpty())
        return true;
    r->verdict = QStringLiteral("refused");
    return false;
}

// Reads one data file of a cleared month: its row count and, verified, the rows' checks.
void readDataFile(const QString& path, int index, MonthReport* month, const QString& agent, bool verify)
{
    const QString name = QFileInfo(path).fileName();
    TableRows rows{QLatin1String(BackupDataFileKinds().at(size_t(index)).table), 0};
    if (verify) {
        const MonthRowsScan scan = ScanDataFile(path, index, month->month, agent, DataFileCheck::Restorable);
        if (!scan.ok)
            month->problems << DataFileUnreadableText(name, scan.error);
        else if (!scan.problem.isEmpty())
            month->problems << scan.problem;
        rows.rows = qint64(scan.digests.size());
    } else {
        adtg::AdtgRecordset rs;
        if (rs.open(path))
            rows.rows = rs.recordCount();
        else
            month->problems << DataFileUnreadableText(name, rs.errorString());
    }
    month->rows.push_back(rows);
}

// The summary's records against the unpacked files. `files`: lower-case name -> path.
void readRecords(XmlNode root, const QHash<QString, QString>& files, bool verify, ArchiveReport* r)
{
    QSet<QString> named{BackupSummaryFileName.toString().toLower()};
    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    for (int j = 0; j < records.childCount(); ++j) {
        const XmlNode record = records.child(j);
        if (record.name() != QLatin1String("RECORD"))
            continue;
        MonthReport month;
        month.month = record.attribute(QStringLiteral("SDYF")).value_or(QString());
        month.cleared = record.attribute(QStringLiteral("SFQL")) == QLatin1String("Y");
        month.declaration = record.attribute(QStringLiteral("WYSBH")).value_or(QString());
        if (month.month.isEmpty()) {
            r->problems << QStringLiteral("备份摘要中有一条所属期为空的记录，恢复会在此中止");
            continue;
        }
        if (month.cleared && !isValidMonth(month.month))
            month.problems << QStringLiteral("所属期%1%2").arg(month.month, InvalidMonthText());
        else if (month.cleared && month.month.left(4) != r->year.left(4))
            month.problems << QStringLiteral("所属期%1%2").arg(month.month, MonthOutsideYearText(r->year));
        if (month.cleared) {
            for (size_t k = 0; k < BackupDataFileKinds().size(); ++k) {
                const QString name =
                    record.attribute(QLatin1String(BackupDataFileKinds()[k].summaryAttribute)).value_or(QString());
                named.insert(name.toLower());
                const auto file = files.constFind(name.toLower());
                if (!isBareName(name) || file == files.constEnd()) {
                    month.problems << QStringLiteral("缺少备份数据文件“%1”").arg(name);
                    month.rows.push_back({QLatin1String(BackupDataFileKinds()[k].table), 0});
                    continue;
                }
                readDataFile(*file, int(k), &month, r->agent, verify);
            }
            const bool empty =
                std::all_of(month.rows.begin(), month.rows.end(), [](const TableRows& t) { return t.rows == 0; });
            if (empty && month.problems.isEmpty())
                month.problems << NoRowsInMonthFilesText();
        }
        r->months.push_back(month);
    }
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        if (!named.contains(it.key()))
            r->problems << QStringLiteral("成员“%1”不是备份摘要所列的文件").arg(QFileInfo(it.value()).fileName());
    }
}

// The summary's own attributes against the archive's name.
void readSummaryHead(const XmlNode& root, const NameParts& name, ArchiveReport* r)
{
    const std::optional<QString> agent = root.attribute(QStringLiteral("KJYWRBM"));
    const std::optional<QString> year = root.attribute(QStringLiteral("YEAR"));
    r->agent = agent.value_or(QString());
    r->year = year.value_or(QString());
    r->edition = root.attribute(QStringLiteral("CODE")).value_or(QString());
    if (!agent)
        r->problems << QStringLiteral("备份摘要没有扣缴义务人");
    if (!year || year->isEmpty())
        r->problems << QStringLiteral("备份摘要没有年度");
    if (!name.ok)
        return;
    QString nameAgent = r->agent;
    nameAgent.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (agent && nameAgent != name.agent) {
        r->problems << QStringLiteral("备份摘要的扣缴义务人%1与文件名中的%2不符").arg(r->agent, name.agent);
    }
    if (year && r->year.left(4) != name.year)
        r->problems << QStringLiteral("备份摘要的年度%1与文件名中的%2不符").arg(r->year, name.year);
    if (ArchiveKindText(r->edition) != name.kind)
        r->problems << QStringLiteral("备份摘要的版本%1与文件名中的“%2”不符").arg(r->edition, name.kind);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

ArchiveReport InspectArchive(const QString& archivePath, bool verify, const std::optional<QString>& strongPassword)
{
    ArchiveReport r;
    const QFileInfo info(archivePath);
    r.path = native(info.absoluteFilePath());
    r.verified = verify;
    const NameParts name = partsOfName(info.fileName());
    r.written = name.written;
    r.agent = name.agent;
    r.year = name.year;
    if (!info.isFile()) {
        r.problems << QStringLiteral("备份文件不存在");
        r.verdict = QStringLiteral("missing");
        return r;
    }
    r.size = info.size();
    r.modified = info.lastModified();

    QList<ArchiveMember> members;
    QString error;
    if (!ListArchiveMembers(info.absoluteFilePath(), &members, &error)) {
        r.problems << QStringLiteral("不是可读的备份文件（%1）").arg(error);
        r.verdict = QStringLiteral("unreadable");
        return r;
    }
    r.members = int(members.size());
    if (!checkDirectory(members, &r))
        return r;

    // Every member, each checked (CRC, declared size) as it comes out, into a folder of our own.
    QTemporaryDir unpacked(QDir(QDir::tempPath()).filePath(QStringLiteral("sjql-inspect-XXXXXX")));
    if (!unpacked.isValid()) {
        r.problems << QStringLiteral("无法建立临时文件夹：%1").arg(unpacked.errorString());
        r.verdict = QStringLiteral("unchecked");
        return r;
    }
    UnpackOptions options;
    options.maxEntries = kMaxArchiveEntries;
    options.maxTotalSize = kMaxUnpackedBytes;
    UnpackProblem problem = UnpackProblem::None;
    const std::optional<QString> password = ArchivePasswordFor(info.absoluteFilePath(), strongPassword);
    if (!UncompressFile(info.absoluteFilePath(), unpacked.path(), false, password, options, &error, &problem)) {
        r.problems << UnpackReasonLine(problem, error);
        r.verdict = verdictOf(problem);
        return r;
    }
    QHash<QString, QString> files;
    for (const QFileInfo& f : QDir(unpacked.path()).entryInfoList(QDir::Files | QDir::Hidden))
        files.insert(f.fileName().toLower(), f.absoluteFilePath());

    const auto summary = files.constFind(BackupSummaryFileName.toString().toLower());
    if (summary == files.constEnd()) {
        r.problems << QStringLiteral("备份文件中没有备份摘要%1").arg(BackupSummaryFileName);
    } else if (std::unique_ptr<XmlDocument> doc = XmlDocument::fromFile(*summary, &error);
               !doc || doc->root().isNull()) {
        r.problems << SummaryUnreadableText(error);
    } else {
        readSummaryHead(doc->root(), name, &r);
        readRecords(doc->root(), files, verify, &r);
    }
    r.verdict = r.sound() ? QStringLiteral("sound") : QStringLiteral("damaged");
    return r;
}

namespace {

void emitArchive(const ArchiveReport& r, bool monthLines, const ReportLineSink& line)
{
    if (monthLines) {
        for (const MonthReport& m : r.months)
            line(MonthLine(m));
    }
    for (const QString& p : r.problems)
        line(QStringLiteral("problem=") + p);
}

// Exit code and closing line over the archives looked at.
void conclude(RunReport* report, bool verify, const ReportLineSink& line)
{
    int unsound = 0, unchecked = 0;
    for (const ArchiveReport& a : report->archives) {
        if (a.verdict == QLatin1String("unchecked"))
            ++unchecked;
        else if (!a.sound())
            ++unsound;
    }
    const qsizetype total = qsizetype(report->archives.size());
    const QString what = verify ? QStringLiteral("检查") : QStringLiteral("列出");
    report->result = QStringLiteral("%1了%2个备份文件：").arg(what).arg(total);
    if (unsound == 0 && unchecked == 0)
        report->result += verify ? QStringLiteral("全部完好") : QStringLiteral("都能读取");
    else
        report->result += QStringLiteral("%1个有问题").arg(unsound);
    if (unchecked > 0)
        report->result += QStringLiteral("，%1个无法检查").arg(unchecked);
    if (!report->unfinished.empty())
        report->result += QStringLiteral("；%1个未完成的年度").arg(report->unfinished.size());
    report->exitCode = unchecked > 0 ? 1 : unsound > 0 ? 3 : 0;
    line(QStringLiteral("result=") + report->result);
}

} // namespace

RunReport VerifyArchives(const QStringList& archivePaths, const ReportLineSink& line,
                         const std::optional<QString>& strongPassword)
{
    RunReport report;
    report.command = QStringLiteral("verify");
    for (const QString& path : archivePaths) {
        line(QStringLiteral("archive=") + native(QFileInfo(path).absoluteFilePath()));
        ArchiveReport r = InspectArchive(path, true, strongPassword);
        emitArchive(r, true, line);
        line(VerdictLine(r));
        report.archives.push_back(std::move(r));
    }
    conclude(&report, true, line);
    return report;
}

ArchiveListing DefaultArchiveListing()
{
    ArchiveListing listing;
    const QString subApp = ModuleSubAppFolder();
    listing.backupFolder = ChooseBackupFolder();
    listing.fallbackFolder = FallbackArchiveFolder(subApp);
    listing.workFolder = ModuleWorkFolder(subApp);
    return listing;
}

bool AgentOfFolderName(const QString& folderName, QString* agentCode)
{
    if (folderName == QLatin1String("_")) {
        agentCode->clear();
        return true;
    }
    QByteArray bytes;
    for (qsizetype i = 0; i < folderName.size(); ++i) {
        const QChar c = folderName.at(i);
        if (c == QLatin1Char('_')) {
            bool ok = false;
            const uint byte = folderName.mid(i + 1, 2).toUInt(&ok, 16);
            if (!ok || folderName.mid(i + 1, 2).size() != 2)
                return false;
            bytes.append(char(byte));
            i += 2;
        } else if (c.isLetterOrNumber() || c == QLatin1Char('-')) {
            bytes.append(char(c.toLatin1()));
        } else {
            return false;
        }
    }
    *agentCode = QString::fromUtf8(bytes);
    // Only a name the folder rule makes is an agent's folder (not "UnZipDir" of another layout).
    return AgentFolderName(*agentCode) == folderName;
}

RunReport ListArchives(const ArchiveListing& listing, const ReportLineSink& line)
{
    RunReport report;
    report.command = QStringLiteral("archives");
    const std::pair<QString, QString> folders[] = {{listing.backupFolder, QStringLiteral("backup")},
                                                   {listing.fallbackFolder, QStringLiteral("fallback")}};
    QStringList seen;
    for (const auto& [folder, role] : folders) {
        if (folder.isEmpty())
            continue;
        const QString path = native(QFileInfo(folder).absoluteFilePath());
        const bool exists = QFileInfo(folder).isDir();
        report.folders.push_back({path, role, exists});
        line(QStringLiteral("folder=%1 %2%3").arg(role, path, exists ? QString() : QStringLiteral(" (不存在)")));
        if (!exists)
            continue;
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QStringLiteral("*.zip"), QStringLiteral("*.ZIP")}, QDir::Files, QDir::Name)) {
            const QString file = QFileInfo(dir.filePath(name)).canonicalFilePath();
            if (!partsOfName(name).ok || seen.contains(file))
                continue; // not an archive of the backup, or the same folder given twice
            seen << file;
            ArchiveReport r = InspectArchive(dir.filePath(name), listing.verify, listing.strongPassword);
            r.folderRole = role;
            report.archives.push_back(std::move(r));
        }
    }
    // Runs of the same year: archives of one agent and year.
    std::map<std::pair<QString, QString>, QStringList> byYear;
    for (const ArchiveReport& a : report.archives)
        byYear[{a.agent, a.year.left(4)}] << a.path;
    for (ArchiveReport& a : report.archives) {
        for (const QString& other : byYear[{a.agent, a.year.left(4)}]) {
            if (other != a.path)
                a.sameYear << other;
        }
    }
    for (const ArchiveReport& a : report.archives) {
        line(ArchiveLine(a));
        emitArchive(a, listing.verify, line);
        if (listing.verify)
            line(VerdictLine(a));
    }
    for (const auto& [key, paths] : byYear) {
        if (paths.size() > 1)
            line(QStringLiteral("same_year=%1 %2 %3").arg(key.first, key.second).arg(paths.size()));
    }

    // Unfinished years of every agent in the work folder.
    if (!listing.workFolder.isEmpty()) {
        const QString work = native(QFileInfo(listing.workFolder).absoluteFilePath());
        const bool exists = QFileInfo(listing.workFolder).isDir();
        report.folders.push_back({work, QStringLiteral("work"), exists});
        line(QStringLiteral("folder=work %1%2").arg(work, exists ? QString() : QStringLiteral(" (不存在)")));
        for (const QString& folderName :
             QDir(listing.workFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            QString agent;
            if (!AgentOfFolderName(folderName, &agent))
                continue;
            for (const UnfinishedYear& y : FindUnfinishedYears(listing.workFolder, agent)) {
                report.unfinished.push_back({agent, y.year, y.periods, native(y.folder)});
                line(QStringLiteral("unfinished=%1 %2 %3 %4")
                         .arg(agent.isEmpty() ? QStringLiteral("-") : agent, y.year, MonthRunsText(y.periods),
                              native(y.folder)));
            }
        }
    }
    conclude(&report, listing.verify, line);
    return report;
}

} // namespace sjql
