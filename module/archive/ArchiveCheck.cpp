// SPDX-License-Identifier: MIT
#include "archive/ArchiveCheck.h"

#include "archive/CompressUnit.h"
#include "support/EventPump.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstring>
#include <memory>
#include <zip.h>

namespace sjql {

namespace {

struct ZipCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser
{
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

bool ArchiveHoldsFiles(const QString& archivePath, const QStringList& files, const QString& password,
                       ArchiveMembers members, QString* error)
{
    const QString archiveName = QFileInfo(archivePath).fileName();
    auto failWith = [&](const QString& message) {
        if (error)
            *error = QStringLiteral("archive %1: %2").arg(archiveName, message);
        return false;
    };
    int openError = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    if (!archive)
        return failWith(QStringLiteral("cannot be opened (libzip error %1)").arg(openError));

    QStringList expected;
    for (const QString& file : files) {
        if (!file.isEmpty())
            expected << file;
    }
    if (members == ArchiveMembers::Exactly && zip_get_num_entries(archive.get(), 0) != expected.size())
        return failWith(QStringLiteral("holds %1 members, %2 expected")
                            .arg(zip_get_num_entries(archive.get(), 0))
                            .arg(expected.size()));

    std::array<char, 64 * 1024> packed{};
    std::array<char, 64 * 1024> original{};
    for (const QString& file : expected) {
        const QString name = QFileInfo(file).fileName();
        const zip_int64_t index = zip_name_locate(archive.get(), name.toUtf8().constData(), 0);
        if (index < 0)
            return failWith(QStringLiteral("member %1: missing").arg(name));
        // Each cipher takes the password as its own bytes.
        zip_stat_t stat;
        zip_stat_init(&stat);
        (void)zip_stat_index(archive.get(), zip_uint64_t(index), 0, &stat);
        const int method = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) ? int(stat.encryption_method) : ZIP_EM_NONE;
        const QByteArray secret = ArchivePasswordBytes(password, method);
        std::unique_ptr<zip_file_t, ZipFileCloser> member(
            method == ZIP_EM_NONE
                ? zip_fopen_index(archive.get(), zip_uint64_t(index), 0)
                : zip_fopen_index_encrypted(archive.get(), zip_uint64_t(index), 0, secret.constData()));
        if (!member)
            return failWith(QStringLiteral("member %1: cannot be opened: %2")
                                .arg(name, QString::fromUtf8(zip_strerror(archive.get()))));
        QFile source(file);
        if (!source.open(QIODevice::ReadOnly))
            return failWith(QStringLiteral("member %1: its file %2 cannot be read").arg(name, file));
        // Reading a member to its end makes libzip check its CRC; the bytes are compared as well.
        // A year's archive is tens of megabytes: pending events are processed every 16 blocks so
        // that the progress window keeps painting.
        for (int block = 1;; ++block) {
            if (block % 16 == 0)
                ProcessPendingEvents();
            const zip_int64_t got = zip_fread(member.get(), packed.data(), packed.size());
            if (got < 0)
                return failWith(
                    QStringLiteral("member %1: %2").arg(name, QString::fromUtf8(zip_file_strerror(member.get()))));
            const qint64 want = source.read(original.data(), got == 0 ? 1 : got);
            if (got == 0) {
                if (want != 0)
                    return failWith(QStringLiteral("member %1: shorter than its file").arg(name));
                break;
            }
            if (want != got || std::memcmp(packed.data(), original.data(), size_t(got)) != 0)
                return failWith(QStringLiteral("member %1: differs from its file").arg(name));
        }
    }
    return true;
}

} // namespace sjql
