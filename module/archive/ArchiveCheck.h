// SPDX-License-Identifier: MIT
// Reading a freshly packed archive back: an archive is a backup only when every member comes out
// of it readable, with the right CRC and byte for byte equal to the file it was packed from.
//
// The backup checks each year's archive this way before it removes the year's files from the work
// folder, and uses the same check to recognise months of a run cut short that an archive already
// holds. GUI thread or any other: pending events are processed (EventPolicy::EveryCall) every
// sixteen 64 KiB blocks when called on the GUI thread. Nothing is changed on disk.
#pragma once

#include <QString>
#include <QStringList>

namespace sjql {

// Which members an archive may hold besides those checked.
enum class ArchiveMembers
{
    Exactly, // the archive holds the members of `files` and nothing else
    AtLeast, // other members may be there too
};

// Reopens an archive with the password and checks that it holds a member for each of `files` (by
// bare name; empty entries are ignored), each readable, CRC right and byte for byte equal to its
// file. False with *error naming the archive and member otherwise ("archive 2019.zip: member
// KJSDSBGB_201903.dat: differs from its file").
[[nodiscard]] bool ArchiveHoldsFiles(const QString& archivePath, const QStringList& files, const QString& password,
                                     ArchiveMembers members, QString* error = nullptr);

// The check of a year's archive just packed: exactly the members of `files`.
[[nodiscard]] inline bool VerifyBackupArchive(const QString& archivePath, const QStringList& files,
                                              const QString& password, QString* error = nullptr)
{
    return ArchiveHoldsFiles(archivePath, files, password, ArchiveMembers::Exactly, error);
}

} // namespace sjql
