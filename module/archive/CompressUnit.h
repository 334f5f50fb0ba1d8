// SPDX-License-Identifier: MIT
// Packing and unpacking of the backup archives: standard ZIP files with flat member names,
// deflate level 6 and traditional PKWARE encryption, read and written through libzip.
//
// All entry points run on the calling thread and let the Qt event loop process pending events
// while they work, so a progress window on the GUI thread stays painted. Nothing here shows a
// dialog: a failure returns false and, when `error` is given, a message naming the archive, the
// member and what was wrong ("archive 2019.zip: member KJSDSBGB_201903.dat: CRC mismatch").
#pragma once

#include <QDateTime>
#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sjql {

// The one password of every backup archive in the default mode, for packing and unpacking. Every
// copy of the module knows it: with the traditional cipher it keeps out a casual look, nothing more.
inline constexpr QLatin1String ArchivePassword("RVTQuinMOBA");

// How the members of an archive are encrypted.
enum class ArchiveCipher
{
    None,        // not encrypted
    Traditional, // traditional PKWARE encryption (ZipCrypto): the default, read by every installation
    Aes256,      // WinZip AES-256: the strong mode, with a password the user chooses
};

// The cipher and password an archive is packed with. The default is the one every installation
// reads and writes: traditional encryption with ArchivePassword.
struct ArchiveProtection
{
    ArchiveCipher cipher = ArchiveCipher::Traditional;
    QString password = QString(ArchivePassword);

    // The strong mode's password, when this is the strong mode.
    [[nodiscard]] std::optional<QString> strongPassword() const
    {
        return cipher == ArchiveCipher::Aes256 ? std::optional<QString>(password) : std::nullopt;
    }
};

// AES-256 with `password`.
[[nodiscard]] inline ArchiveProtection StrongProtection(const QString& password)
{
    return ArchiveProtection{ArchiveCipher::Aes256, password};
}

// The fewest characters a strong-mode password may have.
inline constexpr int MinStrongPasswordLength = 8;

// Why `password` cannot protect a strong-mode archive (too short, a line break, a NUL), in the
// user's words; empty when it can.
[[nodiscard]] QString StrongPasswordProblem(const QString& password);

// The cipher of the archive's encrypted members (the first one decides: a backup never mixes
// them); None when no member is encrypted or the archive cannot be read.
[[nodiscard]] ArchiveCipher ArchiveCipherOf(const QString& archivePath);

// The password that opens `archivePath`: ArchivePassword for the traditional cipher (and for an
// archive that cannot be read, so that its reader reports what is wrong with it), `strongPassword`
// for AES (none when none is given: the unpacking then reports a missing password).
[[nodiscard]] std::optional<QString> ArchivePasswordFor(const QString& archivePath,
                                                        const std::optional<QString>& strongPassword);

// The bytes a password reaches the cipher as: GBK for the traditional cipher (as a Windows
// installation types it), UTF-8 for AES (as other AES archivers take it). `zipMethod` is libzip's
// encryption method of the member.
[[nodiscard]] QByteArray ArchivePasswordBytes(const QString& password, int zipMethod);

// Limits applied to members of an archive being unpacked (archives are untrusted input).
inline constexpr qint64 MaxMemberSize = qint64(2) * 1024 * 1024 * 1024;
inline constexpr qint64 RatioCheckFrom = 1024 * 1024;
inline constexpr qint64 MaxCompressionRatio = 1000;

// Packs `files` (full paths) into the archive at `archivePath` (a full path; relative paths are
// refused). Every member is stored under the file's bare name, deflated at level 6 and, when
// `password` is given, encrypted with it by the traditional cipher. A new archive is owner-only
// (0600); an archive that is updated keeps its mode. An existing archive is updated: new names are added and
// members of the same name are replaced. The archive is written under a temporary name in its
// folder and renamed over the target only when complete, so a failure leaves any old archive as
// it was and no partial file behind. Empty entries of `files` are ignored; an empty list, a
// missing or unreadable file, or a missing or read-only archive folder fails.
[[nodiscard]] bool CompressFiles(const QStringList& files, const QString& archivePath,
                                 const std::optional<QString>& password, QString* error = nullptr);

class DeflateAhead;

// The same, taking the members that `ahead` has deflated already as they are (libzip only
// encrypts and writes them); the others are deflated from their files. Same archive, same checks.
[[nodiscard]] bool CompressFiles(const QStringList& files, const QString& archivePath,
                                 const std::optional<QString>& password, DeflateAhead* ahead, QString* error);

// The same with the cipher and password of `protection`.
[[nodiscard]] bool CompressFiles(const QStringList& files, const QString& archivePath,
                                 const ArchiveProtection& protection, DeflateAhead* ahead, QString* error);

// The same for a file list given as the text of a string list: one path per line, lines separated
// by CR LF (a lone LF is accepted too); a trailing line break adds no member.
[[nodiscard]] bool CompressFiles(const QString& fileListText, const QString& archivePath,
                                 const std::optional<QString>& password, QString* error = nullptr);

// The limits a caller sets on one unpacking, and which members it wants. Archives are untrusted.
struct UnpackOptions
{
    // When set, only the members that land under these names are unpacked (names compared without
    // regard to case; a member lands under the name asked for). Names the archive does not hold are
    // no error: those files are simply absent afterwards. Two members for one name are refused.
    std::optional<QStringList> onlyNames;
    // Entries of the archive's directory, folders included; more refuses the archive. 0: no limit.
    qint64 maxEntries = 0;
    // Declared unpacked bytes of the members to unpack, together; more refuses. 0: no limit.
    qint64 maxTotalSize = 0;
};

// Why an unpacking failed, for the caller's choice of words: each calls for another remedy.
enum class UnpackProblem
{
    None,
    Unreadable,    // missing, not an archive, damaged data, CRC mismatch
    WrongPassword, // the password does not open the members (or none was given); for AES, whose
                   // password check fails about once in 65,536 wrong passwords, a later mismatch
                   // of the data's authentication code counts as damage
    NoSpace,       // not enough free space for the declared sizes, or the device filled up
    Refused,       // unsafe names, links, implausible sizes or ratios, limits of UnpackOptions
    WriteFailed,   // the destination cannot be written for another reason
};

// Unpacks every member of `archivePath` into `destFolder` (created owner-only when missing),
// overwriting files of the same name; the files written are owner-only (0600). Members of either
// cipher open with `password` (its bytes as ArchivePasswordBytes gives them). Without `recreateFolders` every member
// lands directly in `destFolder` under its bare name, whatever folder the archive stores with it; with it, the stored
// folders are created below `destFolder`. Folder entries are skipped.
//
// Before anything is written the whole archive is checked, and it is refused when a member is a
// symbolic link, has a name that reduces to nothing, "." or ".." (or a ".." folder when folders
// are recreated), declares an absurd size (above MaxMemberSize, or a compression ratio above
// MaxCompressionRatio for members above RatioCheckFrom), or cannot be opened with `password`.
// Each member is extracted to a temporary file in its target folder, checked (CRC, size) and only
// then renamed over the target, so a wrong password or a damaged member leaves no half-written
// file; members extracted before a failing one stay in place.
//
// Before extracting, the declared sizes together are compared with the free space of the device
// holding `destFolder`; too little refuses the archive ("not enough space on the device holding
// <folder>"), and a write that fails for lack of space or quota is reported as such ("no space
// left on the device holding <folder>"), never as damage.
[[nodiscard]] bool UncompressFile(const QString& archivePath, const QString& destFolder, bool recreateFolders,
                                  const std::optional<QString>& password, QString* error = nullptr);

// The same with the caller's limits and choice of members; *problem (when given) says what kind of
// failure it was, UnpackProblem::None on success.
[[nodiscard]] bool UncompressFile(const QString& archivePath, const QString& destFolder, bool recreateFolders,
                                  const std::optional<QString>& password, const UnpackOptions& options,
                                  QString* error = nullptr, UnpackProblem* problem = nullptr);

// Fault-injection seams for tests: the free bytes of the device holding a folder (default
// QStorageInfo; negative means unknown and skips the comparison), and the write of unpacked bytes
// to a file descriptor (default write(2); returns the bytes written, or -1 with errno set). Empty
// functions restore the defaults. Not thread-safe: set them before unpacking starts.
using FreeSpaceProbe = std::function<qint64(const QString& folder)>;
using UnpackWriter = std::function<qint64(int fd, const char* data, qint64 size)>;
void SetUnpackDeviceHooks(FreeSpaceProbe freeSpace, UnpackWriter writer);

// The text that starts an archive name: the withholding client (host application code "03")
// and the data-collection client name their backups differently.
[[nodiscard]] QString ArchiveKindText(const QString& hostAppCode);

// kind text + year + "年_" + agent code + "_" + yyyyMMddHHmmsszzz of `now` + ".zip", for example
// 个税代扣代缴备份文件2008年_3101_20090115143005123.zip. Path separators in the agent code become
// "_" so that the name always stays one file name.
[[nodiscard]] QString BuildArchiveName(const QString& hostAppCode, const QString& year, const QString& agentCode,
                                       const QDateTime& now);

// The same with the archive clock's current time.
[[nodiscard]] QString BuildArchiveName(const QString& hostAppCode, const QString& year, const QString& agentCode);

// The clock that stamps archive names: local time by default. Tests replace it; an empty
// function restores the default. Not thread-safe: set it before any packing starts.
using ArchiveClock = std::function<QDateTime()>;
void SetArchiveClock(ArchiveClock clock);
[[nodiscard]] QDateTime ArchiveNow();

} // namespace sjql
