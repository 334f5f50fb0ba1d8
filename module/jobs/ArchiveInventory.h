// SPDX-License-Identifier: MIT
// Looking into backup archives without restoring them: what an archive holds (agent, year, months
// cleared, rows per table) and, verified, whether the restore could give every row back.
//
// An archive is unpacked whole into a temporary folder of its own, under the restore's limits (entry
// count, declared sizes, names, links, compression ratios), so every member's CRC is checked; its
// summary is decoded and every data file a cleared month names is read, each row checked for the
// summary's agent and the record's month and each value for being one the restore writes back
// unchanged (MonthRows.h). Only the temporary folder is written, and it is removed again.
//
// Nothing here needs the database. The listing's default folders come from the module context (the
// window's backup folder, the fallback folder and the work folders). GUI thread or any other;
// pending events are processed while archives are unpacked. Nothing throws or shows a dialog.
#pragma once

#include "jobs/RunReport.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sjql {

// Receives the report's lines for people as they are made (a month, an archive, its verdict).
using ReportLineSink = std::function<void(const QString& line)>;

// Inspects one archive. `verify`: the full check; else only what the listing shows is read (the
// summary and the data files' row counts), and problems met on the way are recorded all the same.
// The default archives open with the fixed password; AES-256 archives (the strong mode) with
// `strongPassword`, and without it they are reported as needing a password (wrong-password).
[[nodiscard]] ArchiveReport InspectArchive(const QString& archivePath, bool verify,
                                           const std::optional<QString>& strongPassword = std::nullopt);

// sjql-host verify: every archive verified in order, a line per month, the archive's problems and
// its verdict, then "result=..." as the last line. Exit code 0 when every archive is sound, 3 when
// any is not, 1 when an archive could not be checked at all (no space to unpack, ...).
[[nodiscard]] RunReport VerifyArchives(const QStringList& archivePaths, const ReportLineSink& line,
                                       const std::optional<QString>& strongPassword = std::nullopt);

struct ArchiveListing
{
    QString backupFolder;   // where the window puts its archives (or --dir)
    QString fallbackFolder; // where they go when that folder cannot be written
    QString workFolder;     // the agents' work folders (TMPBFMU)
    bool verify = false;
    std::optional<QString> strongPassword; // opens AES-256 archives
};

// The window's folders for the current installation, from the module context: its backup folder
// (as the window shows it), the fallback folder and the work folder.
[[nodiscard]] ArchiveListing DefaultArchiveListing();

// sjql-host archives: the backup archives (by their names) in both folders with what they hold,
// archives of one agent and year marked as runs of the same year, the unfinished years of every
// agent in the work folder, and (verify) each archive's verdict; "result=..." last. Exit code 0,
// or as VerifyArchives when verifying; 3 too when a listed archive could not be read.
[[nodiscard]] RunReport ListArchives(const ArchiveListing& listing, const ReportLineSink& line);

// The agent code of a work-folder name (AgentFolderName read backwards); false when the name is
// not one AgentFolderName makes.
[[nodiscard]] bool AgentOfFolderName(const QString& folderName, QString* agentCode);

} // namespace sjql
