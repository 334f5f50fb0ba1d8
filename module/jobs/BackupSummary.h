// SPDX-License-Identifier: MIT
// The backup summary "BFZYXX.xml": one per archived year, naming the agent, the year, the host
// edition and, per month, whether it was cleared and which data files hold its rows.
//
// The file is one line of GBK text with no line end, built byte for byte so that installations
// reading it as text see the layout they expect. Attribute values are XML-escaped, so that any
// standard parser reads back exactly what was written.
#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace sjql {

// The summary's name in the year's work folder and inside the archive.
inline constexpr QLatin1String BackupSummaryFileName("BFZYXX.xml");

// `records` followed by the RECORD element of one month. With the flag "Y" the element names the
// month's three data files (ZCGZXJMXB_, FGZXJB_ and KJSDSBGB_ + period + ".dat"); any other flag
// is written as given, with empty file names. `declarationId` is empty for a month without a
// declaration.
[[nodiscard]] QString AppendBackupRecord(const QString& records, const QString& flag, const QString& period,
                                         const QString& declarationId);

// The summary's complete bytes around `records` (GBK, no line breaks, no line end).
[[nodiscard]] QByteArray BuildBackupSummary(const QString& year, const QString& records, const QString& agentCode,
                                            const QString& appCode);

// Writes the summary to <workDir>/<first four characters of year>/BFZYXX.xml (the file replaced
// whole, never partly) and appends that path to `archiveFiles`, after the year's data files.
// False, with *error naming the file, when it cannot be written; the list is then unchanged.
[[nodiscard]] bool WriteBackupSummary(const QString& year, const QString& records, const QString& agentCode,
                                      const QString& appCode, const QString& workDir, QStringList& archiveFiles,
                                      QString* error = nullptr);

} // namespace sjql
