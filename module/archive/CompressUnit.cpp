// SPDX-License-Identifier: MIT
#include "archive/CompressUnit.h"

#include "archive/DeflateAhead.h"
#include "archive/ZipErrors.h"
#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"
#include "support/EventPump.h"
#include "support/PhaseObserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace sjql {

namespace {

constexpr int DeflateLevel = 6;
constexpr qint64 ReadBlockSize = 64 * 1024;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// libzip's progress callback while the archive is written in zip_close.
void onWriteProgress(zip_t*, double, void*)
{
    ProcessPendingEvents();
}

struct ArchiveCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;

struct MemberCloser
{
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using MemberPtr = std::unique_ptr<zip_file_t, MemberCloser>;

QString zipErrorText(zip_t* archive)
{
    return QString::fromUtf8(zip_error_strerror(zip_get_error(archive)));
}

QString archiveLabel(const QString& archivePath)
{
    return QStringLiteral("archive %1").arg(QFileInfo(archivePath).fileName());
}

ArchiveClock& archiveClock()
{
    static ArchiveClock clock;
    return clock;
}

FreeSpaceProbe& freeSpaceProbe()
{
    static FreeSpaceProbe probe;
    return probe;
}

UnpackWriter& unpackWriter()
{
    static UnpackWriter writer;
    return writer;
}

// Free bytes for the user on the device that holds `folder`, which need not exist yet: the
// nearest existing folder above it is asked. Negative when unknown.
qint64 freeBytesFor(const QString& folder)
{
    if (const FreeSpaceProbe& probe = freeSpaceProbe())
        return probe(folder);
    QDir dir(QFileInfo(folder).absoluteFilePath());
    while (!dir.exists() && !dir.isRoot()) {
        if (!dir.cdUp())
            break;
    }
    const QStorageInfo storage(dir.absolutePath());
    return storage.isValid() && storage.isReady() ? storage.bytesAvailable() : -1;
}

// Writes all of `size` bytes; false with errno set.
bool writeAll(int fd, const char* data, qint64 size)
{
    const UnpackWriter& hook = unpackWriter();
    while (size > 0) {
        const qint64 done = hook ? hook(fd, data, size) : qint64(::write(fd, data, size_t(size)));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

// A member deflated ahead, handed to libzip as data already deflated: its stat names the method,
// sizes and CRC, so libzip neither inflates nor deflates it again and only encrypts and writes it.
struct DeflatedSource
{
    const DeflatedFile* file = nullptr;
    zip_uint64_t offset = 0;
    zip_error_t error{};
};

zip_int64_t deflatedSourceCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* source = static_cast<DeflatedSource*>(state);
    const DeflatedFile& file = *source->file;
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source->offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t left = file.compressed - source->offset;
        const size_t want = size_t(length < left ? length : left);
        ssize_t got = 0;
        do
            got = ::pread(file.fd, data, want, off_t(source->offset));
        while (got < 0 && errno == EINTR);
        if (got < 0 || (got == 0 && want > 0)) {
            zip_error_set(&source->error, ZIP_ER_READ, got < 0 ? errno : EIO);
            return -1;
        }
        source->offset += zip_uint64_t(got);
        return zip_int64_t(got);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (length < sizeof(zip_stat_t)) {
            zip_error_set(&source->error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_MTIME |
                    ZIP_STAT_ENCRYPTION_METHOD;
        st->size = file.size;
        st->comp_size = file.compressed;
        st->crc = file.crc;
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        st->mtime = file.mtime;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&source->error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// The member's data: deflated ahead when `ahead` has it, else the file itself.
zip_source_t* memberSource(zip_t* archive, const QString& path, DeflateAhead* ahead)
{
    if (const DeflatedFile* file = ahead ? ahead->take(path) : nullptr) {
        auto* state = new DeflatedSource;
        state->file = file;
        zip_error_init(&state->error);
        if (zip_source_t* source = zip_source_function(archive, deflatedSourceCallback, state))
            return source;
        zip_error_fini(&state->error);
        delete state;
    }
    return zip_source_file(archive, QFile::encodeName(path).constData(), 0, -1);
}

} // namespace

bool CompressFiles(const QStringList& files, const QString& archivePath, const std::optional<QString>& password,
                   QString* error)
{
    return CompressFiles(files, archivePath, password, nullptr, error);
}

bool CompressFiles(const QStringList& files, const QString& archivePath, const std::optional<QString>& password,
                   DeflateAhead* ahead, QString* error)
{
    const ArchiveProtection protection = password ? ArchiveProtection{ArchiveCipher::Traditional, *password}
                                                  : ArchiveProtection{ArchiveCipher::None, {}};
    return CompressFiles(files, archivePath, protection, ahead, error);
}

bool CompressFiles(const QStringList& files, const QString& archivePath, const ArchiveProtection& protection,
                   DeflateAhead* ahead, QString* error)
{
    const PhaseTimer timer(Phase::Compressing);
    const QString label = archiveLabel(archivePath);
    const QFileInfo archiveInfo(archivePath);
    if (archivePath.isEmpty() || archiveInfo.isRelative()) {
        setError(error, QStringLiteral("archive path \"%1\" is not a full path").arg(archivePath));
        return false;
    }
    if (!QFileInfo(archiveInfo.absolutePath()).isDir()) {
        setError(error, QStringLiteral("%1: folder %2 does not exist").arg(label, archiveInfo.absolutePath()));
        return false;
    }

    // Check the whole list first so that a missing file fails before anything is written.
    QStringList sources;
    for (const QString& file : files) {
        if (file.isEmpty())
            continue;
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable()) {
            setError(error, QStringLiteral("%1: file %2 is missing or unreadable").arg(label, file));
            return false;
        }
        sources.append(info.absoluteFilePath());
    }
    if (sources.isEmpty()) {
        setError(error, QStringLiteral("%1: no files to pack").arg(label));
        return false;
    }

    // Without ZIP_TRUNCATE an existing archive is opened for update. libzip writes the result to
    // a temporary file beside the archive and renames it over the archive in zip_close.
    int openError = 0;
    ArchivePtr archive(zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE, &openError));
    if (!archive) {
        setError(error, QStringLiteral("%1: cannot be opened for writing: %2").arg(label, ZipOpenErrorText(openError)));
        return false;
    }
    const int method = protection.cipher == ArchiveCipher::Aes256 ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
    const bool encrypt = protection.cipher != ArchiveCipher::None;
    const QByteArray secret = ArchivePasswordBytes(protection.password, method);

    for (const QString& source : sources) {
        const QByteArray memberName = QFileInfo(source).fileName().toUtf8();
        zip_source_t* data = memberSource(archive.get(), source, ahead);
        if (!data) {
            setError(error, QStringLiteral("%1: file %2: %3").arg(label, source, zipErrorText(archive.get())));
            return false;
        }
        const zip_int64_t index =
            zip_file_add(archive.get(), memberName.constData(), data, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(data);
            setError(error, QStringLiteral("%1: member %2: %3")
                                .arg(label, QString::fromUtf8(memberName), zipErrorText(archive.get())));
            return false;
        }
        const auto member = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(archive.get(), member, ZIP_CM_DEFLATE, DeflateLevel) != 0 ||
            (encrypt &&
             zip_file_set_encryption(archive.get(), member, zip_uint16_t(method), secret.constData()) != 0)) {
            setError(error, QStringLiteral("%1: member %2: %3")
                                .arg(label, QString::fromUtf8(memberName), zipErrorText(archive.get())));
            return false;
        }
    }

    // libzip reports progress per member share: at 1 % a large month's member is several
    // megabytes of deflating between two calls, so report every 0.1 %.
    zip_register_progress_callback_with_state(archive.get(), 0.001, onWriteProgress, nullptr, nullptr);
    // libzip creates its temporary file (renamed into the archive) with the process's mask and no
    // mode of ours: a new archive must be owner-only from its first byte. An existing archive's
    // mode is kept by libzip.
    const OwnerOnlyMask ownerOnly;
    if (zip_close(archive.get()) != 0) {
        setError(error, QStringLiteral("%1: cannot be written: %2").arg(label, zipErrorText(archive.get())));
        return false; // the deleter discards the archive and with it libzip's temporary file
    }
    (void)archive.release(); // zip_close has freed it
    return true;
}

bool CompressFiles(const QString& fileListText, const QString& archivePath, const std::optional<QString>& password,
                   QString* error)
{
    QStringList files;
    for (const QString& line : fileListText.split(QLatin1Char('\n'))) {
        QString path = line;
        if (path.endsWith(QLatin1Char('\r')))
            path.chop(1);
        files.append(path); // empty lines are skipped by the list overload
    }
    return CompressFiles(files, archivePath, password, error);
}

namespace {

// One member of an archive being unpacked, after its checks.
struct PlannedMember
{
    zip_uint64_t index = 0;
    QString name;     // as stored, decoded
    QString relative; // where it lands, relative to the destination folder
    qint64 size = 0;
    bool encrypted = false;
    int method = ZIP_EM_NONE; // libzip's encryption method
};

// Opens a member with the password, given as the bytes its cipher takes.
zip_file_t* openMember(zip_t* archive, zip_uint64_t index, int method, const std::optional<QString>& password)
{
    if (method == ZIP_EM_NONE || !password)
        return zip_fopen_index(archive, index, 0);
    const QByteArray secret = ArchivePasswordBytes(*password, method);
    return zip_fopen_index_encrypted(archive, index, 0, secret.constData());
}

// Member names without the UTF-8 flag come from Windows archivers that wrote the ANSI code page.
// libzip converts such names from CP 437 in strict mode, so a strict name that differs from the
// raw bytes means "no UTF-8 flag and not plain ASCII".
QString decodeMemberName(zip_t* archive, zip_uint64_t index, const char* raw)
{
    const char* strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
    const QByteArray rawBytes(raw);
    if (strict && rawBytes == QByteArray(strict))
        return QString::fromUtf8(rawBytes);
    QStringDecoder gbk("GBK");
    const QString name = gbk.decode(rawBytes);
    if (!gbk.hasError())
        return name;
    // Not GBK either: some Unix archivers store UTF-8 without setting the flag.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString asUtf8 = utf8.decode(rawBytes);
    return utf8.hasError() ? name : asUtf8;
}

bool isSymlink(zip_t* archive, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) != 0)
        return false;
    return opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

bool isFolderEntry(zip_t* archive, zip_uint64_t index, const QString& name)
{
    if (name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\')))
        return true;
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) != 0)
        return false;
    return opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFDIR;
}

// Where a member lands, relative to the destination folder; empty when the name is unsafe.
// Both separators count, since Windows archivers may store backslashes.
QString landingPath(const QString& name, bool recreateFolders)
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList parts = name.split(separators, Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    if (!recreateFolders) {
        const QString bare = parts.last();
        return (bare == QLatin1String(".") || bare == QLatin1String("..")) ? QString() : bare;
    }
    QStringList kept;
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return {};
        if (part == QLatin1String(".") || (kept.isEmpty() && part.size() == 2 && part.at(1) == QLatin1Char(':')))
            continue; // drive letters of Windows paths carry no folder
        kept.append(part);
    }
    return kept.join(QLatin1Char('/'));
}

// A failure of an unpacking: its kind and its message.
struct Failure
{
    QString* error;
    UnpackProblem* problem;

    bool operator()(UnpackProblem kind, const QString& text) const
    {
        setError(error, text);
        if (problem)
            *problem = kind;
        return false;
    }
};

// Reads one member through libzip into a temporary file beside its target and renames it over the
// target once the CRC and the size check out.
bool extractMember(zip_t* archive, const PlannedMember& member, const std::optional<QString>& password,
                   const QString& destFolder, bool anyVerified, const QString& label, const Failure& fail)
{
    const QString memberLabel = QStringLiteral("%1: member %2").arg(label, member.name);
    const QString target = QDir(destFolder).filePath(member.relative);
    const QString targetFolder = QFileInfo(target).absolutePath();
    const auto noSpace = [&] {
        return fail(UnpackProblem::NoSpace,
                    QStringLiteral("%1: no space left on the device holding %2").arg(memberLabel, targetFolder));
    };
    if (!MakeOwnerOnlyPath(targetFolder)) {
        return fail(UnpackProblem::WriteFailed,
                    QStringLiteral("%1: folder %2 cannot be created").arg(memberLabel, targetFolder));
    }
    MemberPtr file(openMember(archive, member.index, member.method, password));
    if (!file) {
        const int code = zip_error_code_zip(zip_get_error(archive));
        if (code == ZIP_ER_WRONGPASSWD)
            return fail(UnpackProblem::WrongPassword, QStringLiteral("%1: wrong password").arg(memberLabel));
        return fail(UnpackProblem::Unreadable, QStringLiteral("%1: %2").arg(memberLabel, zipErrorText(archive)));
    }
    QTemporaryFile temp(QDir(targetFolder).filePath(QStringLiteral(".unzip-XXXXXX")));
    if (!temp.open()) {
        if (errno == ENOSPC || errno == EDQUOT)
            return noSpace();
        return fail(UnpackProblem::WriteFailed,
                    QStringLiteral("%1: cannot write into %2: %3").arg(memberLabel, targetFolder, temp.errorString()));
    }

    std::vector<char> block(ReadBlockSize);
    qint64 total = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), block.data(), block.size());
        if (got < 0) {
            const int code = zip_error_code_zip(zip_file_get_error(file.get()));
            const bool damaged = code == ZIP_ER_CRC || code == ZIP_ER_ZLIB || code == ZIP_ER_COMPRESSED_DATA;
            // The traditional cipher's one-byte check lets about one wrong password in 256
            // through; the CRC or the inflate step then fails. Until some member has decrypted
            // cleanly with this password, that means the password is wrong, not the data. AES
            // checks the password with two bytes and the data with its authentication code: a
            // mismatch there is damage.
            const bool traditional = member.method == ZIP_EM_TRAD_PKWARE;
            if (code == ZIP_ER_WRONGPASSWD || (damaged && traditional && !anyVerified))
                return fail(UnpackProblem::WrongPassword, QStringLiteral("%1: wrong password").arg(memberLabel));
            QString reason;
            if (code == ZIP_ER_CRC)
                reason = QStringLiteral("CRC mismatch");
            else if (damaged)
                reason = QStringLiteral("damaged data");
            else
                reason = QString::fromUtf8(zip_error_strerror(zip_file_get_error(file.get())));
            return fail(UnpackProblem::Unreadable, QStringLiteral("%1: %2").arg(memberLabel, reason));
        }
        if (got == 0)
            break;
        total += got;
        // libzip stops at the declared compressed size; this also stops output beyond the
        // declared size, whatever the deflate stream holds.
        if (total > member.size) {
            return fail(UnpackProblem::Unreadable,
                        QStringLiteral("%1: more data than the declared %2 bytes").arg(memberLabel).arg(member.size));
        }
        // Straight to the descriptor, so that the reason of a failed write (errno) is known.
        if (!writeAll(temp.handle(), block.data(), got)) {
            if (errno == ENOSPC || errno == EDQUOT)
                return noSpace();
            return fail(
                UnpackProblem::WriteFailed,
                QStringLiteral("%1: write failed: %2").arg(memberLabel, QString::fromLocal8Bit(strerror(errno))));
        }
        ProcessPendingEvents();
    }
    if (total != member.size) {
        return fail(
            UnpackProblem::Unreadable,
            QStringLiteral("%1: %2 bytes instead of the declared %3").arg(memberLabel).arg(total).arg(member.size));
    }
    // QTemporaryFile made it 0600, and so it stays: unpacked members are personal data.
    temp.close();

    // rename(2) replaces an existing file (or a link standing there) without following it.
    std::error_code renameError;
    std::filesystem::rename(QFile::encodeName(temp.fileName()).toStdString(), QFile::encodeName(target).toStdString(),
                            renameError);
    if (renameError) {
        return fail(UnpackProblem::WriteFailed,
                    QStringLiteral("%1: cannot replace %2: %3")
                        .arg(memberLabel, target, QString::fromLocal8Bit(renameError.message())));
    }
    temp.setAutoRemove(false);
    return true;
}

} // namespace

bool UncompressFile(const QString& archivePath, const QString& destFolder, bool recreateFolders,
                    const std::optional<QString>& password, QString* error)
{
    return UncompressFile(archivePath, destFolder, recreateFolders, password, UnpackOptions(), error);
}

bool UncompressFile(const QString& archivePath, const QString& destFolder, bool recreateFolders,
                    const std::optional<QString>& password, const UnpackOptions& options, QString* error,
                    UnpackProblem* problem)
{
    const PhaseTimer timer(Phase::Unpacking);
    if (problem)
        *problem = UnpackProblem::None;
    const Failure fail{error, problem};
    const QString label = archiveLabel(archivePath);
    if (!QFileInfo(archivePath).isFile())
        return fail(UnpackProblem::Unreadable, QStringLiteral("%1: does not exist").arg(label));
    int openError = 0;
    ArchivePtr archive(zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &openError));
    if (!archive) {
        return fail(UnpackProblem::Unreadable,
                    QStringLiteral("%1: cannot be read: %2").arg(label, ZipOpenErrorText(openError)));
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (options.maxEntries > 0 && count > options.maxEntries) {
        return fail(
            UnpackProblem::Refused,
            QStringLiteral("%1: %2 entries, more than the %3 accepted").arg(label).arg(count).arg(options.maxEntries));
    }

    // Check every member before writing anything, so that a hostile or foreign archive is
    // refused as a whole.
    std::vector<PlannedMember> plan;
    qint64 totalSize = 0;
    QStringList taken; // chosen names already planned, lower case
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        if (zip_stat_index(archive.get(), index, ZIP_FL_ENC_RAW, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
            return fail(UnpackProblem::Unreadable,
                        QStringLiteral("%1: entry %2: %3").arg(label).arg(i).arg(zipErrorText(archive.get())));
        }
        PlannedMember member;
        member.index = index;
        member.name = decodeMemberName(archive.get(), index, stat.name);
        const QString memberLabel = QStringLiteral("%1: member %2").arg(label, member.name);
        if (isSymlink(archive.get(), index))
            return fail(UnpackProblem::Refused, QStringLiteral("%1: symbolic links are not unpacked").arg(memberLabel));
        if (isFolderEntry(archive.get(), index, member.name))
            continue;
        member.relative = landingPath(member.name, recreateFolders);
        if (options.onlyNames) {
            // Members nobody asked for are not looked at further: they are never written.
            qsizetype wanted = -1;
            for (qsizetype n = 0; n < options.onlyNames->size() && wanted < 0 && !member.relative.isEmpty(); ++n) {
                if (options.onlyNames->at(n).compare(member.relative, Qt::CaseInsensitive) == 0)
                    wanted = n;
            }
            if (wanted < 0)
                continue;
            member.relative = options.onlyNames->at(wanted);
            if (taken.contains(member.relative.toLower())) {
                return fail(UnpackProblem::Refused,
                            QStringLiteral("%1: a second member for %2").arg(memberLabel, member.relative));
            }
            taken.append(member.relative.toLower());
        }
        if (member.relative.isEmpty())
            return fail(UnpackProblem::Refused, QStringLiteral("%1: unsafe member name").arg(memberLabel));
        if (!(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE))
            return fail(UnpackProblem::Unreadable, QStringLiteral("%1: size unknown").arg(memberLabel));
        // Sizes from the central directory are untrusted; they are checked again while reading.
        if (stat.size > zip_uint64_t(MaxMemberSize)) {
            return fail(UnpackProblem::Refused,
                        QStringLiteral("%1: declared size %2 exceeds the limit").arg(memberLabel).arg(stat.size));
        }
        member.size = qint64(stat.size);
        if (member.size > RatioCheckFrom &&
            (stat.comp_size == 0 || stat.size / stat.comp_size > zip_uint64_t(MaxCompressionRatio))) {
            return fail(UnpackProblem::Refused,
                        QStringLiteral("%1: compression ratio of %2 to %3 bytes is not plausible")
                            .arg(memberLabel)
                            .arg(stat.size)
                            .arg(stat.comp_size));
        }
        totalSize += member.size;
        if (options.maxTotalSize > 0 && totalSize > options.maxTotalSize) {
            return fail(UnpackProblem::Refused,
                        QStringLiteral("%1: the members declare more than the %2 bytes accepted")
                            .arg(label)
                            .arg(options.maxTotalSize));
        }
        member.encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        member.method = member.encrypted ? int(stat.encryption_method) : ZIP_EM_NONE;
        if (member.encrypted) {
            // Opening an encrypted member checks the password against its header.
            MemberPtr probe(openMember(archive.get(), index, member.method, password));
            if (!probe) {
                const int code = zip_error_code_zip(zip_get_error(archive.get()));
                if (code == ZIP_ER_WRONGPASSWD)
                    return fail(UnpackProblem::WrongPassword, QStringLiteral("%1: wrong password").arg(memberLabel));
                if (code == ZIP_ER_NOPASSWD) {
                    return fail(UnpackProblem::WrongPassword,
                                QStringLiteral("%1: encrypted, and no password was given").arg(memberLabel));
                }
                return fail(UnpackProblem::Unreadable,
                            QStringLiteral("%1: %2").arg(memberLabel, zipErrorText(archive.get())));
            }
        }
        plan.push_back(member);
        ProcessPendingEvents();
    }

    // The declared sizes must fit on the device before the first byte is written: a device filled
    // to the last byte would fail the database and the host as well.
    const qint64 available = freeBytesFor(destFolder);
    if (available >= 0 && totalSize > available) {
        return fail(UnpackProblem::NoSpace,
                    QStringLiteral("%1: not enough space on the device holding %2: %3 bytes needed, %4 available")
                        .arg(label, destFolder)
                        .arg(totalSize)
                        .arg(available));
    }
    if (!MakeOwnerOnlyPath(destFolder)) {
        return fail(UnpackProblem::WriteFailed,
                    QStringLiteral("%1: folder %2 cannot be created").arg(label, destFolder));
    }
    bool anyVerified = false;
    for (const PlannedMember& member : plan) {
        if (!extractMember(archive.get(), member, password, destFolder, anyVerified, label, fail))
            return false;
        anyVerified = anyVerified || member.encrypted;
    }
    return true;
}

QString StrongPasswordProblem(const QString& password)
{
    if (password.size() < MinStrongPasswordLength)
        return QStringLiteral("密码至少要有%1个字符").arg(MinStrongPasswordLength);
    if (password.contains(QLatin1Char('\n')) || password.contains(QLatin1Char('\r')) || password.contains(QChar(0)))
        return QStringLiteral("密码不能含有换行符或空字符");
    return {};
}

ArchiveCipher ArchiveCipherOf(const QString& archivePath)
{
    int openError = 0;
    ArchivePtr archive(zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &openError));
    if (!archive)
        return ArchiveCipher::None;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_ENCRYPTION_METHOD) || stat.encryption_method == ZIP_EM_NONE)
            continue;
        const bool aes = stat.encryption_method == ZIP_EM_AES_128 || stat.encryption_method == ZIP_EM_AES_192 ||
                         stat.encryption_method == ZIP_EM_AES_256;
        return aes ? ArchiveCipher::Aes256 : ArchiveCipher::Traditional;
    }
    return ArchiveCipher::None;
}

std::optional<QString> ArchivePasswordFor(const QString& archivePath, const std::optional<QString>& strongPassword)
{
    if (ArchiveCipherOf(archivePath) == ArchiveCipher::Aes256)
        return strongPassword;
    return QString(ArchivePassword);
}

QByteArray ArchivePasswordBytes(const QString& password, int zipMethod)
{
    return zipMethod == ZIP_EM_TRAD_PKWARE ? toGbk(password) : password.toUtf8();
}

QString ArchiveKindText(const QString& hostAppCode)
{
    return hostAppCode == QLatin1String("03") ? QStringLiteral("个税代扣代缴备份文件")
                                              : QStringLiteral("采集端数据备份文件");
}

QString BuildArchiveName(const QString& hostAppCode, const QString& year, const QString& agentCode,
                         const QDateTime& now)
{
    QString agent = agentCode;
    agent.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return ArchiveKindText(hostAppCode) + year + QStringLiteral("年_") + agent + QLatin1Char('_') +
           now.toString(QStringLiteral("yyyyMMddHHmmsszzz")) + QStringLiteral(".zip");
}

QString BuildArchiveName(const QString& hostAppCode, const QString& year, const QString& agentCode)
{
    return BuildArchiveName(hostAppCode, year, agentCode, ArchiveNow());
}

void SetArchiveClock(ArchiveClock clock)
{
    archiveClock() = std::move(clock);
}

void SetUnpackDeviceHooks(FreeSpaceProbe freeSpace, UnpackWriter writer)
{
    freeSpaceProbe() = std::move(freeSpace);
    unpackWriter() = std::move(writer);
}

QDateTime ArchiveNow()
{
    const ArchiveClock& clock = archiveClock();
    return clock ? clock() : QDateTime::currentDateTime();
}

} // namespace sjql
