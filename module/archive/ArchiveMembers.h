// SPDX-License-Identifier: MIT
// The directory of an archive as it is stored, without unpacking anything: the members' names,
// sizes and kinds, for a look at an archive before (or instead of) unpacking it.
//
// Names are read as libzip guesses their encoding (UTF-8, else code page 437); separators and dots,
// all a safety check looks at, are the same in every encoding an archiver writes. Any thread;
// nothing is written.
#pragma once

#include <QList>
#include <QString>

namespace sjql {

struct ArchiveMember
{
    QString name;           // as stored, folders included
    bool folder = false;    // a folder entry (name ends with a separator, or a Unix folder)
    bool link = false;      // a Unix symbolic link
    qint64 size = -1;       // declared unpacked bytes, -1 when not declared
    bool encrypted = false; // stored with any encryption method
};

// Lists every entry of the archive's central directory in stored order. False, with *error naming
// the archive and the reason, when it is missing or not a readable ZIP archive.
[[nodiscard]] bool ListArchiveMembers(const QString& archivePath, QList<ArchiveMember>* members,
                                      QString* error = nullptr);

} // namespace sjql
