// SPDX-License-Identifier: MIT
// Backup archives as the fault campaign sees them: read straight through libzip (never through the
// module's unpacking, whose checks are under test), and written anew from members of a real archive
// for the crafted-archive cases.
#pragma once

#include "Ledger.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace sjql::fault {

struct SummaryRecord
{
    QString period, declarationId, cleared; // SDYF, WYSBH, SFQL
    QString files[3];                       // GZFILENAME, FGZFILENAME, BGBFILENAME
};

struct Summary
{
    bool ok = false;
    QString agent, year, code;
    std::vector<SummaryRecord> records;
};

// Reads the summary's GBK text (attribute values unescaped).
Summary parseSummary(const QByteArray& bytes);

struct ArchiveScan
{
    bool complete = false; // opens with the password and holds a readable summary
    bool whole = false;    // complete, and every cleared month's three files hold rows agreeing with it
    QString error;         // why it is not complete, or the first thing not whole
    Summary summary;
    QStringList clearedMonths;
};

// Reads an archive's cleared months. Rows that agree with their record go to `rows`, rows under
// another agent or month than the record says go to `misfiled`.
ArchiveScan scanArchive(const QString& path, const std::vector<TableDesc>& tables, RowBag* rows, RowBag* misfiled);

struct Member
{
    QString name;
    QByteArray data;
    qint64 zeros = 0; // when > 0: a member of that many zero bytes, produced while it is packed
};

// Every member of an archive, decrypted.
bool readMembers(const QString& path, std::vector<Member>* out, QString* error);

// Writes a password-protected archive (deflate, traditional encryption) of the members.
bool writeArchive(const QString& path, const std::vector<Member>& members, QString* error);

// The archive password of the module's backups.
QString archivePassword();

} // namespace sjql::fault
