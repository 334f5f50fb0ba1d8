// SPDX-License-Identifier: MIT
#include "archive/ArchiveMembers.h"

#include "archive/ZipErrors.h"

#include <QFile>
#include <QFileInfo>

#include <memory>
#include <sys/stat.h>
#include <zip.h>

namespace sjql {

namespace {

struct ArchiveCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

} // namespace

bool ListArchiveMembers(const QString& archivePath, QList<ArchiveMember>* members, QString* error)
{
    const QString label = QStringLiteral("archive %1").arg(QFileInfo(archivePath).fileName());
    auto failed = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    members->clear();
    if (!QFileInfo(archivePath).isFile())
        return failed(QStringLiteral("%1: does not exist").arg(label));
    int openError = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &openError));
    if (!archive)
        return failed(QStringLiteral("%1: cannot be read: %2").arg(label, ZipOpenErrorText(openError)));
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        if (zip_stat_index(archive.get(), index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
            return failed(QStringLiteral("%1: entry %2: %3")
                              .arg(label)
                              .arg(i)
                              .arg(QString::fromUtf8(zip_strerror(archive.get()))));
        }
        ArchiveMember member;
        member.name = QString::fromUtf8(stat.name);
        member.size = (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : -1;
        member.encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        const bool unix = zip_file_get_external_attributes(archive.get(), index, 0, &opsys, &attributes) == 0 &&
                          opsys == ZIP_OPSYS_UNIX;
        const auto type = (attributes >> 16) & S_IFMT;
        member.link = unix && type == S_IFLNK;
        member.folder = member.name.endsWith(QLatin1Char('/')) || member.name.endsWith(QLatin1Char('\\')) ||
                        (unix && type == S_IFDIR);
        members->append(member);
    }
    return true;
}

} // namespace sjql
