// SPDX-License-Identifier: MIT
#include "Archives.h"

#include "archive/CompressUnit.h"
#include "hostapi/Gbk.h"

#include <QFile>
#include <QRegularExpression>

#include <cstring>
#include <ctime>
#include <memory>
#include <zip.h>

namespace sjql::fault {

namespace {

const char* const kFileAttributes[3] = {"GZFILENAME", "FGZFILENAME", "BGBFILENAME"};

QString unescape(QString s)
{
    s.replace(QLatin1String("&quot;"), QLatin1String("\""));
    s.replace(QLatin1String("&apos;"), QLatin1String("'"));
    s.replace(QLatin1String("&lt;"), QLatin1String("<"));
    s.replace(QLatin1String("&gt;"), QLatin1String(">"));
    s.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return s;
}

QHash<QString, QString> attributes(const QString& text)
{
    static const QRegularExpression attr(QStringLiteral("(\\w+)=\"([^\"]*)\""));
    QHash<QString, QString> out;
    for (auto it = attr.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out.insert(m.captured(1), unescape(m.captured(2)));
    }
    return out;
}

struct ZipCloser
{
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

ZipPtr openZip(const QString& path, int flags, QString* error)
{
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), flags, &code);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        *error = QStringLiteral("%1: %2").arg(path, QString::fromUtf8(zip_error_strerror(&e)));
        zip_error_fini(&e);
    }
    return ZipPtr(z);
}

bool readMember(zip_t* z, zip_int64_t index, QByteArray* out, QString* error)
{
    zip_stat_t st;
    if (zip_stat_index(z, zip_uint64_t(index), 0, &st) != 0) {
        *error = QString::fromUtf8(zip_strerror(z));
        return false;
    }
    if (st.size > 256u * 1024 * 1024) {
        *error = QStringLiteral("member %1 declares %2 bytes").arg(QString::fromUtf8(st.name)).arg(st.size);
        return false;
    }
    const QByteArray pw = archivePassword().toLatin1();
    zip_file_t* f = zip_fopen_index_encrypted(z, zip_uint64_t(index), 0, pw.constData());
    if (!f) {
        *error = QString::fromUtf8(zip_strerror(z));
        return false;
    }
    out->resize(qsizetype(st.size));
    const zip_int64_t n = zip_fread(f, out->data(), st.size);
    const bool ok = n == zip_int64_t(st.size);
    if (!ok)
        *error =
            QStringLiteral("member %1: %2").arg(QString::fromUtf8(st.name), QString::fromUtf8(zip_file_strerror(f)));
    zip_fclose(f);
    return ok;
}

// A member of `size` zero bytes, produced as libzip reads it.
struct ZeroSource
{
    zip_uint64_t size = 0, at = 0;
    time_t mtime = 0;
    zip_error_t error;
};

zip_int64_t zeroCallback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto* s = static_cast<ZeroSource*>(state);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        s->at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t n = std::min(len, s->size - s->at);
        std::memset(data, 0, size_t(n));
        s->at += n;
        return zip_int64_t(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = s->size;
        // The traditional encryption's check byte is taken from the time stamp: give one.
        st->mtime = s->mtime;
        st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&s->error);
        delete s;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

QString archivePassword()
{
    return QString(ArchivePassword);
}

Summary parseSummary(const QByteArray& bytes)
{
    Summary s;
    const QString text = fromGbk(QByteArrayView(bytes));
    static const QRegularExpression root(QStringLiteral("<QVRBFXX\\s([^>]*)>"));
    static const QRegularExpression record(QStringLiteral("<RECORD\\s([^>]*?)/>"));
    const auto r = root.match(text);
    if (!r.hasMatch() || !text.contains(QLatin1String("</QVRBFXX>")))
        return s;
    const auto rootAttrs = attributes(r.captured(1));
    s.agent = rootAttrs.value(QStringLiteral("KJYWRBM"));
    s.year = rootAttrs.value(QStringLiteral("YEAR"));
    s.code = rootAttrs.value(QStringLiteral("CODE"));
    for (auto it = record.globalMatch(text); it.hasNext();) {
        const auto a = attributes(it.next().captured(1));
        SummaryRecord rec;
        rec.period = a.value(QStringLiteral("SDYF"));
        rec.declarationId = a.value(QStringLiteral("WYSBH"));
        rec.cleared = a.value(QStringLiteral("SFQL"));
        for (int i = 0; i < 3; ++i)
            rec.files[i] = a.value(QLatin1String(kFileAttributes[i]));
        s.records.push_back(rec);
    }
    s.ok = true;
    return s;
}

ArchiveScan scanArchive(const QString& path, const std::vector<TableDesc>& tables, RowBag* rows, RowBag* misfiled)
{
    ArchiveScan scan;
    ZipPtr z = openZip(path, ZIP_RDONLY, &scan.error);
    if (!z)
        return scan;
    const zip_int64_t summaryAt = zip_name_locate(z.get(), "BFZYXX.xml", 0);
    QByteArray bytes;
    if (summaryAt < 0 || !readMember(z.get(), summaryAt, &bytes, &scan.error)) {
        if (summaryAt < 0)
            scan.error = QStringLiteral("no BFZYXX.xml");
        return scan;
    }
    scan.summary = parseSummary(bytes);
    if (!scan.summary.ok) {
        scan.error = QStringLiteral("BFZYXX.xml does not parse");
        return scan;
    }
    scan.complete = true;
    scan.whole = true;
    const auto notWhole = [&](const QString& why) {
        if (scan.whole)
            scan.error = why;
        scan.whole = false;
    };
    for (const SummaryRecord& rec : scan.summary.records) {
        if (rec.cleared != QLatin1String("Y"))
            continue;
        scan.clearedMonths << rec.period;
        for (int i = 0; i < 3; ++i) {
            const QByteArray name = rec.files[i].toUtf8();
            const zip_int64_t at = zip_name_locate(z.get(), name.constData(), 0);
            QByteArray data;
            QString error;
            if (at < 0) {
                notWhole(QStringLiteral("%1: member %2 missing").arg(rec.period, rec.files[i]));
                continue;
            }
            if (!readMember(z.get(), at, &data, &error)) {
                notWhole(error);
                continue;
            }
            RowBag wrong;
            if (!readDataFileRows(data, rec.files[i], tables[size_t(i)], rows, &error, scan.summary.agent, rec.period,
                                  &wrong)) {
                notWhole(error);
                continue;
            }
            if (wrong.total() > 0) {
                notWhole(QStringLiteral("%1: %2 rows of another agent or month in %3")
                             .arg(rec.period)
                             .arg(wrong.total())
                             .arg(rec.files[i]));
                if (misfiled)
                    wrong.forEach([&](const RowKey& k, int n, const RowInfo& info) { misfiled->add(k, info, n); });
            }
        }
    }
    return scan;
}

bool readMembers(const QString& path, std::vector<Member>* out, QString* error)
{
    ZipPtr z = openZip(path, ZIP_RDONLY, error);
    if (!z)
        return false;
    const zip_int64_t n = zip_get_num_entries(z.get(), 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        Member m;
        m.name = QString::fromUtf8(zip_get_name(z.get(), zip_uint64_t(i), 0));
        if (!readMember(z.get(), i, &m.data, error))
            return false;
        out->push_back(std::move(m));
    }
    return true;
}

bool writeArchive(const QString& path, const std::vector<Member>& members, QString* error)
{
    QFile::remove(path);
    ZipPtr z = openZip(path, ZIP_CREATE | ZIP_EXCL, error);
    if (!z)
        return false;
    const QByteArray pw = archivePassword().toLatin1();
    for (const Member& m : members) {
        zip_source_t* src = nullptr;
        if (m.zeros > 0) {
            auto* state = new ZeroSource;
            state->size = zip_uint64_t(m.zeros);
            state->mtime = time(nullptr);
            zip_error_init(&state->error);
            src = zip_source_function(z.get(), zeroCallback, state);
            if (!src)
                delete state;
        } else {
            src = zip_source_buffer(z.get(), m.data.constData(), zip_uint64_t(m.data.size()), 0);
        }
        const QByteArray name = m.name.toUtf8();
        const zip_int64_t at = src ? zip_file_add(z.get(), name.constData(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (at < 0) {
            if (src)
                zip_source_free(src);
            *error = QStringLiteral("%1: member %2: %3").arg(path, m.name, QString::fromUtf8(zip_strerror(z.get())));
            return false;
        }
        if (zip_set_file_compression(z.get(), zip_uint64_t(at), ZIP_CM_DEFLATE, m.zeros > 0 ? 9 : 6) != 0 ||
            zip_file_set_encryption(z.get(), zip_uint64_t(at), ZIP_EM_TRAD_PKWARE, pw.constData()) != 0) {
            *error = QStringLiteral("%1: %2").arg(path, QString::fromUtf8(zip_strerror(z.get())));
            return false;
        }
    }
    if (zip_close(z.get()) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromUtf8(zip_strerror(z.get())));
        return false;
    }
    (void)z.release();
    return true;
}

} // namespace sjql::fault
