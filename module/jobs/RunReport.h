// SPDX-License-Identifier: MIT
// The reports of the scripted tools, built in one place: one JSON document for programs and the
// name=value lines for people, both from the same values, so they always tell the same counts.
//
// Document (schema 1, see README "Looking into backups"): an object with "schema", "command",
// "exitCode", "result", and per command "archives" (each with its months and their rows per
// table), "folders", "unfinished" and "lines". Keys are ASCII and stable; a new key may be added
// within a schema version, a key changes meaning or goes only with a new version. Pure functions
// (Qt Core only), any thread.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace sjql {

// The version of the document's layout, its "schema" field.
inline constexpr int kRunReportSchema = 1;

// Rows of one history table.
struct TableRows
{
    QString table; // "ZCGZXJMXB", "FGZXJB", "KJSDSBGB"
    qint64 rows = 0;
};

// One month record of an archive's summary.
struct MonthReport
{
    QString month;               // SDYF, YYYYMM
    bool cleared = false;        // SFQL="Y": the month's rows are in the archive
    QString declaration;         // WYSBH
    std::vector<TableRows> rows; // cleared months: the rows of each data file read
    QStringList problems;        // empty: sound
};

// What an archive is and, when it was verified, how sound.
struct ArchiveReport
{
    QString path;       // absolute
    QString folderRole; // "backup", "fallback", or empty when named on the command line
    qint64 size = -1;   // bytes; -1 when the file is missing
    QDateTime modified; // the file's time
    QDateTime written;  // the time stamp in its name, when it bears one
    QString agent;      // the summary's KJYWRBM (else the name's), the year likewise
    QString year;
    QString edition; // the summary's CODE
    int members = 0; // entries of the archive's directory
    bool verified = false;
    // Verified: "sound", "damaged" (a member, the summary or a data file is not what the backup
    // writes), "refused" (a hostile archive: unsafe names, links, limits), "wrong-password",
    // "unreadable" (not an archive, CRC mismatch), "missing", or "unchecked" (the check itself
    // could not run, e.g. no space to unpack). Listed only: empty.
    QString verdict;
    QStringList problems; // the archive's own; months keep theirs
    std::vector<MonthReport> months;
    QStringList sameYear; // other archives of the same agent and year
    bool sound() const;   // no problem here or in a month
    std::vector<TableRows> totalRows() const;
    QStringList clearedMonths() const;
};

// A year whose cleared months wait unpacked in a work folder.
struct UnfinishedReport
{
    QString agent;
    QString year;
    QStringList months;
    QString folder;
};

// A folder the archives were looked for in.
struct FolderReport
{
    QString path;
    QString role; // "backup", "fallback", "work"
    bool exists = false;
};

struct RunReport
{
    QString command;
    int exitCode = 0;
    QString result; // the one-line summary of the last line
    std::vector<FolderReport> folders;
    std::vector<ArchiveReport> archives;
    std::vector<UnfinishedReport> unfinished;
    QStringList lines; // result lines of a run, in order (clear, restore)
};

[[nodiscard]] QJsonObject TableRowsJson(const std::vector<TableRows>& rows);
[[nodiscard]] QJsonObject MonthJson(const MonthReport& month);
[[nodiscard]] QJsonObject ArchiveJson(const ArchiveReport& archive);
// The whole document; empty parts ("folders", "unfinished", "lines") are left out.
[[nodiscard]] QJsonObject RunReportJson(const RunReport& report);
// The document as UTF-8 text, indented, ending with a line break.
[[nodiscard]] QByteArray RunReportText(const RunReport& report);

// The lines for people, "name=value" with ASCII names:
//   month=201901 cleared ZCGZXJMXB=4 FGZXJB=2 KJSDSBGB=1 ok          (or: not-cleared; problem: <text>)
[[nodiscard]] QString MonthLine(const MonthReport& month);
//   archive=3101 2019 201901-201906 ZCGZXJMXB=24 FGZXJB=12 KJSDSBGB=6 size=1234 date=2024-05-01T12:00:00 <path>
[[nodiscard]] QString ArchiveLine(const ArchiveReport& archive);
//   verdict=sound <path>     (damaged, refused, ...; the archive's problems precede it as problem=<text>)
[[nodiscard]] QString VerdictLine(const ArchiveReport& archive);
// The months as runs of consecutive months: "201901-201906,201909".
[[nodiscard]] QString MonthRunsText(const QStringList& months);

} // namespace sjql
