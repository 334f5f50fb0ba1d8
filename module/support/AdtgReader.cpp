// SPDX-License-Identifier: MIT
#include "support/AdtgReader.h"

#include "support/AdtgDetail.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QStringList>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace sjql::adtg {

using detail::Magnitude;

namespace {

constexpr unsigned char kTokHeader = 0x01;
constexpr unsigned char kTokHandler = 0x02;
constexpr unsigned char kTokResult = 0x03;
constexpr unsigned char kTokTable = 0x05;
constexpr unsigned char kTokColumn = 0x06;
constexpr unsigned char kTokRow = 0x07;
constexpr unsigned char kTokChange = 0x0A;
constexpr unsigned char kTokDelete = 0x0C;
constexpr unsigned char kTokInsert = 0x0D;
constexpr unsigned char kTokEnd = 0x0F;
constexpr unsigned char kTokContext = 0x10;

// Class id of the recordset object in the RDS wrapper ("09 00 00" + class id + implementation id).
constexpr unsigned char kRdsClassId[16] = {0x35, 0x05, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4};

QString hexByte(unsigned v)
{
    return QStringLiteral("0x%1").arg(v, 2, 16, QLatin1Char('0'));
}

bool bitSet(const unsigned char* map, int k)
{
    return (map[k / 8] & (0x80 >> (k % 8))) != 0;
}

// A DECIMAL (0x0E: scale, sign bit, 96-bit magnitude, high 32 bits first) or NUMERIC (0x83:
// precision, scale, sign (0 negative), 128-bit magnitude, low half first) value's parts.
struct ScaledParts
{
    int scale = 0;
    int maxScale = 0; // the type's limit
    Magnitude magnitude = 0;
    bool negative = false;
};
ScaledParts scaledParts(std::uint16_t wireType, const unsigned char* q)
{
    if (wireType == 0x0E)
        return {q[2], 28, (Magnitude(qFromLittleEndian<quint32>(q + 4)) << 64) | qFromLittleEndian<quint64>(q + 8),
                (q[3] & 0x80) != 0};
    return {q[1], 38, (Magnitude(qFromLittleEndian<quint64>(q + 11)) << 64) | qFromLittleEndian<quint64>(q + 3),
            q[2] == 0};
}

// An integer of up to 32 bits, or a signed one of 64 bits; false for other wire types.
bool fixedInteger(std::uint16_t wireType, const unsigned char* q, qint64* out)
{
    switch (wireType) {
    case 0x10:
        *out = static_cast<qint8>(q[0]);
        return true;
    case 0x11:
        *out = q[0];
        return true;
    case 0x02:
        *out = qFromLittleEndian<qint16>(q);
        return true;
    case 0x12:
        *out = qFromLittleEndian<quint16>(q);
        return true;
    case 0x03:
        *out = qFromLittleEndian<qint32>(q);
        return true;
    case 0x13:
        *out = qFromLittleEndian<quint32>(q);
        return true;
    case 0x14:
        *out = qFromLittleEndian<qint64>(q);
        return true;
    default:
        return false;
    }
}

// `units` little-endian UTF-16 code units into `out` (its memory reused). Lone surrogates come
// from damaged or cut text; they read as replacement characters.
void utf16Into(const unsigned char* q, qsizetype units, QString& out)
{
    out.resize(units);
    qFromLittleEndian<quint16>(q, units, out.data());
    QChar* d = out.data();
    for (qsizetype i = 0; i < units; ++i) {
        if (d[i].isHighSurrogate() && i + 1 < units && d[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (d[i].isSurrogate())
            d[i] = QChar::ReplacementCharacter;
    }
}

// A wide-text value of `column` (`units` code units at `q`) into `out` as it reads: lone
// surrogates replaced, fixed-length text cut at its first NUL.
void wideTextInto(const AdtgColumn& column, const unsigned char* q, qsizetype units, QString& out)
{
    utf16Into(q, units, out);
    if (column.fixedLength()) {
        const qsizetype nul = out.indexOf(QChar(0));
        if (nul >= 0)
            out.truncate(nul);
    }
}

} // namespace

// Bounds-checked walk over the file bytes. Every read checks the remaining data first; the first
// failure records a message with the offset and makes all further reads fail.
class Parser
{
public:
    Parser(AdtgRecordset& rs, qsizetype start, qsizetype end)
        : m_rs(rs), m_p(reinterpret_cast<const unsigned char*>(rs.m_data.constData())), m_pos(start), m_end(end)
    {}

    qsizetype pos() const { return m_pos; }
    qsizetype left() const { return m_end - m_pos; }
    bool ok() const { return m_ok; }

    bool fail(const QString& what)
    {
        if (m_ok)
            m_rs.fail(QStringLiteral("%1 (offset %2)").arg(what).arg(m_pos));
        m_ok = false;
        return false;
    }
    bool need(qsizetype n, const char* what)
    {
        if (!m_ok)
            return false;
        if (n < 0 || n > left())
            return fail(
                QStringLiteral("truncated: %1 needs %2 bytes, %3 left").arg(QLatin1String(what)).arg(n).arg(left()));
        return true;
    }
    bool peek(unsigned char* b) const
    {
        if (!m_ok || m_pos >= m_end)
            return false;
        *b = m_p[m_pos];
        return true;
    }
    const unsigned char* take(qsizetype n, const char* what)
    {
        if (!need(n, what))
            return nullptr;
        const unsigned char* q = m_p + m_pos;
        m_pos += n;
        return q;
    }
    bool u8(quint8* v, const char* what)
    {
        const auto* q = take(1, what);
        return q && (*v = q[0], true);
    }
    bool u16(quint16* v, const char* what)
    {
        const auto* q = take(2, what);
        return q && (*v = qFromLittleEndian<quint16>(q), true);
    }
    bool u32(quint32* v, const char* what)
    {
        const auto* q = take(4, what);
        return q && (*v = qFromLittleEndian<quint32>(q), true);
    }
    bool skip(qsizetype n, const char* what) { return take(n, what) != nullptr; }
    // Name string: u16 count of UTF-16 code units, then the units.
    bool name(QString* out, const char* what)
    {
        quint16 count = 0;
        if (!u16(&count, what))
            return false;
        const auto* q = take(qsizetype(count) * 2, what);
        if (!q)
            return false;
        if (out)
            *out = utf16(q, count);
        return true;
    }
    static QString utf16(const unsigned char* q, qsizetype units)
    {
        QString s;
        utf16Into(q, units, s);
        return s;
    }
    void limitEnd(qsizetype end) { m_end = end; }
    void moveTo(qsizetype pos) { m_pos = pos; }

    // One value of a column; with out == nullptr the value is only checked and skipped.
    bool value(const AdtgColumn& c, QVariant* out);
    // Steps over a value already checked by open(): no checks, no warnings. Its bytes (after the
    // length of a variable value) start at *start and run for *length.
    bool skipValue(const AdtgColumn& c, qsizetype* start = nullptr, quint32* length = nullptr)
    {
        quint32 n = 0;
        const int size = fixedWireSize(c.wireType);
        if (size > 0) {
            n = quint32(size);
        } else {
            const std::uint64_t b = c.wireType == kWireVarNumeric ? c.maxLength : c.maxBytes();
            if (b <= 255 && c.fixedLength() && c.wireType != kWireVarNumeric) {
                n = static_cast<quint32>(b);
            } else if (b <= 255) {
                quint8 n8 = 0;
                if (!u8(&n8, "value length"))
                    return false;
                n = n8;
            } else if (!u32(&n, "value length")) {
                return false;
            }
        }
        if (start)
            *start = m_pos;
        if (length)
            *length = n;
        return skip(n, "value");
    }

private:
    bool variableLength(const AdtgColumn& c, quint32* length);
    // A date or a time read from its three parts: stored when valid, else a failure that names them.
    bool threeParts(const AdtgColumn& c, bool valid, const QVariant& value, const char* kind, char separator,
                    std::initializer_list<int> parts, QVariant* out)
    {
        if (!valid) {
            QStringList texts;
            for (int part : parts)
                texts << QString::number(part);
            return fail(QStringLiteral("column %1: invalid %2 %3")
                            .arg(c.name, QLatin1String(kind), texts.join(QLatin1Char(separator))));
        }
        if (out)
            *out = value;
        return true;
    }
    // A decimal or numeric value: its scale checked against the kind's `maxScale`, then the text.
    bool scaled(const AdtgColumn& c, const char* kind, int scale, int maxScale, Magnitude magnitude, bool negative,
                QVariant* out)
    {
        if (scale > maxScale)
            return fail(QStringLiteral("column %1: %2 scale %3 above %4")
                            .arg(c.name, QLatin1String(kind), QString::number(scale), QString::number(maxScale)));
        if (out)
            *out = detail::formatScaled(magnitude, scale, negative);
        return true;
    }

    AdtgRecordset& m_rs;
    const unsigned char* m_p;
    qsizetype m_pos;
    qsizetype m_end;
    bool m_ok = true;
};

bool Parser::variableLength(const AdtgColumn& c, quint32* length)
{
    const std::uint64_t b = c.wireType == kWireVarNumeric ? c.maxLength : c.maxBytes();
    if (b <= 255 && c.fixedLength() && c.wireType != kWireVarNumeric) {
        *length = static_cast<quint32>(b);
        return true;
    }
    if (b <= 255) {
        quint8 n = 0;
        if (!u8(&n, "value length"))
            return false;
        *length = n;
    } else if (!u32(length, "value length")) {
        return false;
    }
    if (*length > left())
        return fail(
            QStringLiteral("column %1: value length %2 runs past the end of the data").arg(c.name).arg(*length));
    if (b != kUnlimitedLength && *length > b)
        m_rs.m_warnings
            << QStringLiteral("column %1: value of %2 bytes exceeds the declared %3").arg(c.name).arg(*length).arg(b);
    return true;
}

bool Parser::value(const AdtgColumn& c, QVariant* out)
{
    const int size = fixedWireSize(c.wireType);
    if (size > 0) {
        const unsigned char* q = take(size, "value");
        if (!q)
            return false;
        switch (c.wireType) {
        case 0x10:
            if (out)
                *out = qlonglong(static_cast<qint8>(q[0]));
            return true;
        case 0x11:
            if (out)
                *out = qulonglong(q[0]);
            return true;
        case 0x02:
            if (out)
                *out = qlonglong(qFromLittleEndian<qint16>(q));
            return true;
        case 0x12:
            if (out)
                *out = qulonglong(qFromLittleEndian<quint16>(q));
            return true;
        case 0x03:
            if (out)
                *out = qlonglong(qFromLittleEndian<qint32>(q));
            return true;
        case 0x13:
            if (out)
                *out = qulonglong(qFromLittleEndian<quint32>(q));
            return true;
        case 0x06:
        case 0x14:
            if (out)
                *out = qlonglong(qFromLittleEndian<qint64>(q));
            return true;
        case 0x15:
            if (out)
                *out = qulonglong(qFromLittleEndian<quint64>(q));
            return true;
        case 0x04:
            if (out) {
                float f;
                const quint32 bits = qFromLittleEndian<quint32>(q);
                std::memcpy(&f, &bits, 4);
                *out = f;
            }
            return true;
        case 0x05:
        case 0x07: {
            double d;
            const quint64 bits = qFromLittleEndian<quint64>(q);
            std::memcpy(&d, &bits, 8);
            if (c.wireType == 0x07) {
                // Checking alone needs no date-time object: the day tells whether there is one.
                if (!detail::fromOleDay(d).isValid())
                    return fail(QStringLiteral("column %1: date value %2 out of range").arg(c.name).arg(d));
                if (out)
                    *out = detail::fromOleDate(d);
            } else if (out) {
                *out = d;
            }
            return true;
        }
        case 0x0B:
            if (out)
                *out = qFromLittleEndian<quint16>(q) != 0;
            return true;
        case 0x40:
            if (out)
                *out = detail::fromFileTime(qFromLittleEndian<quint64>(q));
            return true;
        case 0x48:
            if (out)
                *out = QUuid(qFromLittleEndian<quint32>(q), qFromLittleEndian<quint16>(q + 4),
                             qFromLittleEndian<quint16>(q + 6), q[8], q[9], q[10], q[11], q[12], q[13], q[14], q[15]);
            return true;
        case 0x85:
        case 0x86:
        case 0x87: {
            const int a = c.wireType == 0x86 ? qFromLittleEndian<quint16>(q) : qFromLittleEndian<qint16>(q);
            const int b = qFromLittleEndian<quint16>(q + 2);
            const int d = qFromLittleEndian<quint16>(q + 4);
            if (c.wireType == 0x85) {
                const QDate date(a, b, d);
                return threeParts(c, date.isValid(), QVariant(date), "date", '-', {a, b, d}, out);
            }
            if (c.wireType == 0x86) {
                const QTime time(a, b, d);
                return threeParts(c, time.isValid(), QVariant(time), "time", ':', {a, b, d}, out);
            }
            const QDate date(a, b, d);
            const int hh = qFromLittleEndian<quint16>(q + 6);
            const int mm = qFromLittleEndian<quint16>(q + 8);
            const int ss = qFromLittleEndian<quint16>(q + 10);
            const quint32 ns = qFromLittleEndian<quint32>(q + 12);
            const QTime time(hh, mm, ss, static_cast<int>(ns / 1000000));
            if (!date.isValid() || !time.isValid() || ns > 999999999)
                return fail(QStringLiteral("column %1: invalid time stamp %2-%3-%4 %5:%6:%7")
                                .arg(c.name)
                                .arg(a)
                                .arg(b)
                                .arg(d)
                                .arg(hh)
                                .arg(mm)
                                .arg(ss));
            if (out)
                *out = detail::plainDateTime(date, time);
            return true;
        }
        case 0x0E:
        case 0x83: {
            const ScaledParts v = scaledParts(c.wireType, q);
            return scaled(c, c.wireType == 0x0E ? "decimal" : "numeric", v.scale, v.maxScale, v.magnitude, v.negative,
                          out);
        }
        default:
            return fail(QStringLiteral("column %1: unsupported type %2").arg(c.name).arg(c.wireType));
        }
    }
    if (size < 0)
        return fail(QStringLiteral("column %1: unsupported type %2").arg(c.name).arg(c.wireType));

    quint32 length = 0;
    if (!variableLength(c, &length))
        return false;
    const unsigned char* q = take(length, "value");
    if (!q)
        return false;
    switch (c.wireType) {
    case kWireBytes:
        if (out)
            *out = QByteArray(reinterpret_cast<const char*>(q), length);
        return true;
    case kWireStr:
        if (out) {
            qsizetype n = length;
            if (c.fixedLength()) {
                const void* nul = std::memchr(q, 0, length);
                if (nul)
                    n = static_cast<const unsigned char*>(nul) - q;
            }
            QStringDecoder decoder(m_rs.m_ansiCodePage.constData());
            *out = decoder.isValid() ? decoder.decode(QByteArrayView(q, n))
                                     : QString::fromLatin1(reinterpret_cast<const char*>(q), n);
        }
        return true;
    case kWireWStr:
    case 0x08: {
        if (length % 2)
            return fail(QStringLiteral("column %1: wide text of odd length %2").arg(c.name).arg(length));
        if (out) {
            QString s;
            wideTextInto(c, q, length / 2, s);
            *out = s;
        }
        return true;
    }
    case kWireVarNumeric: {
        // u8 precision, i8 scale, u8 sign (1 positive), magnitude little-endian.
        if (length < 3)
            return fail(QStringLiteral("column %1: variable numeric of %2 bytes").arg(c.name).arg(length));
        const int scale = static_cast<qint8>(q[1]);
        if (scale < 0 || scale > 38)
            return fail(QStringLiteral("column %1: numeric scale %2 not supported").arg(c.name).arg(scale));
        Magnitude m = 0;
        for (quint32 i = length; i > 3; --i) {
            if (m >> 120)
                return fail(QStringLiteral("column %1: numeric value too large").arg(c.name));
            m = (m << 8) | q[i - 1];
        }
        if (out)
            *out = detail::formatScaled(m, scale, q[2] == 0);
        return true;
    }
    default:
        return fail(QStringLiteral("column %1: unsupported type %2").arg(c.name).arg(c.wireType));
    }
}

AdtgRecordset::AdtgRecordset() = default;
AdtgRecordset::~AdtgRecordset() = default;

bool AdtgRecordset::fail(const QString& message)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("data file %1: %2").arg(m_name, message);
    return false;
}

void AdtgRecordset::close()
{
    m_open = false;
    m_data.clear();
    m_columns.clear();
    m_visible.clear();
    m_rows.clear();
    m_current.clear();
    m_slots.clear();
    m_decoded.clear();
    m_nullableCount = 0;
    m_storedRowCount = 0;
    m_position = 0;
}

bool AdtgRecordset::open(const QString& path)
{
    close();
    m_error.clear();
    m_warnings.clear();
    m_name = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open: %1").arg(file.errorString()));
    if (file.size() > kMaxFileBytes)
        return fail(QStringLiteral("file of %1 bytes is larger than the limit").arg(file.size()));
    // Read into a buffer of the file's size: readAll would grow one step by step, holding up to
    // twice the file at its peak, and a month's data file can be tens of megabytes.
    const qint64 size = file.size();
    QByteArray data(size, Qt::Uninitialized);
    if (file.read(data.data(), size) != size || file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("read error: %1").arg(file.errorString()));
    return openData(data, path);
}

bool AdtgRecordset::openData(const QByteArray& data, const QString& displayName)
{
    close();
    m_error.clear();
    m_warnings.clear();
    m_name = displayName.isEmpty() ? QStringLiteral("(memory)") : displayName;
    m_data = data;
    Parser p(*this, 0, m_data.size());

    // Optional RDS wrapper around the TableGram.
    // Read through at(): the non-const operator[] would copy the whole file, whose bytes the
    // caller still shares.
    if (m_data.size() >= 3 && m_data.at(0) == 0x09 && m_data.at(1) == 0x00) {
        if (m_data.at(2) == 0x01) {
            fail(QStringLiteral("holds no recordset"));
            close();
            return false;
        }
        const auto* q = p.take(35, "RDS wrapper");
        if (!q || q[2] != 0 || std::memcmp(q + 3, kRdsClassId, 16) != 0) {
            fail(QStringLiteral("unknown wrapper before the TableGram"));
            close();
            return false;
        }
    }

    auto bail = [this]() {
        close();
        return false;
    };

    // Header: 01, size, "TG!", versions, byte order, Unicode flag.
    quint8 token = 0, size8 = 0;
    if (!p.u8(&token, "header") || token != kTokHeader) {
        if (p.ok())
            fail(QStringLiteral("not a TableGram: first byte %1").arg(hexByte(token)));
        return bail();
    }
    if (!p.u8(&size8, "header size"))
        return bail();
    if (size8 < 7) {
        p.fail(QStringLiteral("header size %1 below 7").arg(size8));
        return bail();
    }
    const auto* h = p.take(size8, "header");
    if (!h)
        return bail();
    if (std::memcmp(h, "TG!", 3) != 0) {
        fail(QStringLiteral("not a TableGram: signature missing"));
        return bail();
    }
    if (h[5] != 0) {
        fail(QStringLiteral("big-endian TableGram not supported"));
        return bail();
    }
    if (h[6] != 0) {
        fail(QStringLiteral("Unicode-format TableGram not supported"));
        return bail();
    }

    // Handler options: required, skipped by size.
    quint16 size = 0;
    if (!p.u8(&token, "handler options"))
        return bail();
    if (token != kTokHandler) {
        fail(QStringLiteral("expected handler options, found %1 at offset %2").arg(hexByte(token)).arg(p.pos() - 1));
        return bail();
    }
    if (!p.u16(&size, "handler options size") || !p.skip(size, "handler options"))
        return bail();

    // Metadata: one result descriptor, a context, table descriptors and column descriptors.
    bool haveResult = false;
    quint16 totalColumns = 0;
    unsigned char next = 0;
    while (p.peek(&next) && (next == kTokResult || next == kTokContext || next == kTokTable || next == kTokColumn)) {
        p.skip(1, "token");
        const qsizetype elementStart = p.pos();
        if (!p.u16(&size, "element size"))
            return bail();
        if (size > p.left()) {
            p.fail(QStringLiteral("truncated: element %1 of %2 bytes, %3 left")
                       .arg(hexByte(next))
                       .arg(size)
                       .arg(p.left()));
            return bail();
        }
        const qsizetype bodyEnd = p.pos() + size;
        Parser body(*this, p.pos(), bodyEnd);
        if (next == kTokResult) {
            if (haveResult) {
                fail(QStringLiteral("hierarchical recordset not supported (second result descriptor at offset %1)")
                         .arg(elementStart - 1));
                return bail();
            }
            haveResult = true;
            quint16 visible = 0;
            if (!body.skip(19, "result descriptor") || !body.u16(&visible, "visible columns") ||
                !body.u16(&totalColumns, "total columns") || !body.skip(6, "result descriptor") ||
                !body.u32(&m_storedRowCount, "row count"))
                return bail();
        } else if (next == kTokColumn) {
            if (!haveResult) {
                fail(QStringLiteral("column descriptor before the result descriptor at offset %1")
                         .arg(elementStart - 1));
                return bail();
            }
            AdtgColumn c;
            quint8 presence[3] = {};
            quint16 ordinal = 0;
            if (!body.u8(&presence[0], "column") || !body.u8(&presence[1], "column") ||
                !body.u8(&presence[2], "column") || !body.u16(&ordinal, "column ordinal"))
                return bail();
            const quint32 bits = (quint32(presence[0]) << 16) | (quint32(presence[1]) << 8) | presence[2];
            if (ordinal != m_columns.size() + 1) {
                body.fail(
                    QStringLiteral("column ordinal %1 where %2 was expected").arg(ordinal).arg(m_columns.size() + 1));
                return bail();
            }
            quint32 length = 0, precision = 0, scale = 0;
            if ((bits & 0x800000) && !body.name(&c.name, "column name"))
                return bail();
            if ((bits & 0x400000) && !body.u16(&c.baseTableOrdinal, "base table ordinal"))
                return bail();
            if ((bits & 0x200000) && !body.u16(&c.baseColumnOrdinal, "base column ordinal"))
                return bail();
            if ((bits & 0x100000) && !body.name(&c.baseColumnName, "base column name"))
                return bail();
            if (!body.u16(&c.wireType, "data type") || !body.u32(&length, "maximum length") ||
                !body.u32(&precision, "precision") || !body.u32(&scale, "scale") || !body.u32(&c.flags, "column flags"))
                return bail();
            c.maxLength = length;
            c.precision = precision;
            c.scale = static_cast<qint32>(scale);
            if ((bits & 0x020000) && !body.name(&c.baseCatalog, "base catalog name"))
                return bail();
            if ((bits & 0x010000) && !body.name(&c.baseSchema, "base schema name"))
                return bail();
            qsizetype fixedSkip = ((bits & 0x008000) ? 4 : 0) + ((bits & 0x004000) ? 4 : 0) +
                                  ((bits & 0x002000) ? 4 : 0) + ((bits & 0x001000) ? 16 : 0);
            if (!body.skip(fixedSkip, "column attributes"))
                return bail();
            quint16 flag16 = 0;
            if ((bits & 0x000100)) {
                if (!body.u16(&flag16, "auto-increment"))
                    return bail();
                c.autoIncrement = flag16 != 0;
            }
            if (!body.skip(((bits & 0x80) ? 2 : 0) + ((bits & 0x40) ? 2 : 0), "column attributes"))
                return bail();
            if (bits & 0x20) {
                // IsSearchable is four bytes in the grammar and two in the prose: take the width
                // that ends exactly at IsVisible.
                const qsizetype rest = ((bits & 0x10) ? 2 : 0) + ((bits & 0x08) ? 4 : 0) + 2;
                const qsizetype width = (body.left() == 2 + rest) ? 2 : 4;
                if (!body.skip(width, "searchable"))
                    return bail();
            }
            if (!body.skip(((bits & 0x10) ? 2 : 0) + ((bits & 0x08) ? 4 : 0), "column attributes"))
                return bail();
            if (body.left() >= 2) {
                body.u16(&flag16, "visible");
                c.visible = flag16 != 0;
            }
            if (c.flags & FlagIsChapter) {
                fail(QStringLiteral("hierarchical recordset not supported (chapter column %1)").arg(c.name));
                return bail();
            }
            if (fixedWireSize(c.wireType) < 0) {
                fail(QStringLiteral("column %1: data type %2 is not supported").arg(c.name).arg(c.wireType));
                return bail();
            }
            m_columns.push_back(std::move(c));
        } else if (next == kTokTable) {
            if (!m_columns.empty()) {
                fail(QStringLiteral("table descriptor after the columns at offset %1").arg(elementStart - 1));
                return bail();
            }
        }
        p.moveTo(bodyEnd);
    }
    if (!p.ok())
        return bail();
    if (!haveResult || m_columns.empty()) {
        if (p.left() == 0)
            p.fail(QStringLiteral("truncated: the metadata ends with the data"));
        else
            p.fail(QStringLiteral("no %1 before the rows")
                       .arg(haveResult ? QStringLiteral("column descriptor") : QStringLiteral("result descriptor")));
        return bail();
    }
    if (totalColumns != m_columns.size())
        m_warnings << QStringLiteral("result descriptor counts %1 columns, %2 described")
                          .arg(totalColumns)
                          .arg(m_columns.size());

    const int columnCount = static_cast<int>(m_columns.size());
    int nullableCount = 0;
    for (int i = 0; i < columnCount; ++i) {
        if (m_columns[i].nullable())
            ++nullableCount;
        if (m_columns[i].visible)
            m_visible.push_back(i);
    }
    m_nullableCount = nullableCount;
    const qsizetype presenceBytes = (nullableCount + 7) / 8;
    const qsizetype mapBytes = (columnCount + 7) / 8;

    // Rows: check every value now, keep only where each row starts.
    for (;;) {
        quint8 tok = 0;
        if (!p.u8(&tok, "row token")) {
            if (p.ok())
                p.fail(QStringLiteral("truncated: end token missing"));
            return bail();
        }
        if (tok == kTokEnd)
            break;
        RowRef row;
        row.original = p.pos() - 1;
        if (tok == kTokRow) {
            const auto* map = p.take(presenceBytes, "presence map");
            if (!map)
                return bail();
            int k = 0;
            for (const AdtgColumn& c : m_columns) {
                const bool present = !c.nullable() || bitSet(map, k++);
                if (present && !p.value(c, nullptr))
                    return bail();
            }
            unsigned char after = 0;
            if (p.peek(&after) && after == kTokDelete) {
                p.skip(1, "delete");
                continue;
            }
            if (p.peek(&after) && after == kTokChange) {
                row.change = p.pos();
                p.skip(1, "change");
            } else {
                m_rows.push_back(row);
                continue;
            }
        } else if (tok == kTokInsert) {
            row.inserted = true;
        } else if (tok == 0x87 || tok == 0x8A || tok == 0x8C || tok == 0x8D || tok == 0x80) {
            p.fail(QStringLiteral("hierarchical recordset not supported (child row token %1)").arg(hexByte(tok)));
            return bail();
        } else {
            p.moveTo(p.pos() - 1);
            p.fail(QStringLiteral("unexpected byte %1 where a row was expected").arg(hexByte(tok)));
            return bail();
        }
        // Change or insert: update map, force-null map, then the values that were set.
        const auto* update = p.take(mapBytes, "update map");
        const auto* forceNull = p.take(mapBytes, "force-null map");
        if (!update || !forceNull)
            return bail();
        for (int i = 0; i < columnCount; ++i) {
            if (bitSet(update, i) && !bitSet(forceNull, i) && !p.value(m_columns[i], nullptr))
                return bail();
        }
        m_rows.push_back(row);
    }
    if (p.left() > 0)
        m_warnings << QStringLiteral("%1 bytes after the end token ignored").arg(p.left());
    if (m_storedRowCount != m_rows.size())
        m_warnings << QStringLiteral("file claims %1 rows, %2 decoded").arg(m_storedRowCount).arg(m_rows.size());

    m_open = true;
    moveFirst();
    return true;
}

void AdtgRecordset::decodeCurrent()
{
    // Only where each value lies is found here; values are decoded when they are asked for.
    const size_t columnCount = m_columns.size();
    m_slots.assign(columnCount, -1);
    m_decoded.assign(columnCount, 0);
    m_current.resize(columnCount);
    if (eof())
        return;
    const RowRef& row = m_rows[static_cast<size_t>(m_position)];
    Parser p(*this, row.original + 1, m_data.size());
    const qsizetype mapBytes = qsizetype(columnCount + 7) / 8;
    qsizetype changeAt = row.change;
    if (!row.inserted) {
        const auto* map = p.take((m_nullableCount + 7) / 8, "presence map");
        int k = 0;
        for (size_t i = 0; i < columnCount && map; ++i) {
            const AdtgColumn& c = m_columns[i];
            if (!c.nullable() || bitSet(map, k++)) {
                m_slots[i] = p.pos();
                p.skipValue(c);
            }
        }
    } else {
        changeAt = row.original;
    }
    if (changeAt < 0)
        return;
    p.moveTo(changeAt + 1);
    const auto* update = p.take(mapBytes, "update map");
    const auto* forceNull = p.take(mapBytes, "force-null map");
    for (size_t i = 0; i < columnCount && update && forceNull; ++i) {
        if (!bitSet(update, int(i)))
            continue; // unchanged column of a change row; never set in an inserted row (NULL)
        m_slots[i] = -1;
        if (!bitSet(forceNull, int(i))) {
            m_slots[i] = p.pos();
            p.skipValue(m_columns[i]);
        }
    }
}

const QVariant& AdtgRecordset::currentValue(int c) const
{
    if (!m_decoded[size_t(c)]) {
        m_decoded[size_t(c)] = 1;
        QVariant& value = m_current[size_t(c)];
        value = QVariant();
        if (m_slots[size_t(c)] >= 0) {
            // Decoding may note a warning, as it did when values were decoded row by row.
            auto& self = const_cast<AdtgRecordset&>(*this);
            Parser p(self, m_slots[size_t(c)], m_data.size());
            p.value(m_columns[size_t(c)], &value);
        }
    }
    return m_current[size_t(c)];
}

void AdtgRecordset::moveFirst()
{
    m_position = 0;
    decodeCurrent();
}

void AdtgRecordset::moveTo(int position)
{
    m_position = std::clamp(position, 0, recordCount());
    decodeCurrent();
}

void AdtgRecordset::moveNext()
{
    if (!eof())
        ++m_position;
    decodeCurrent();
}

int AdtgRecordset::fieldIndex(QStringView name) const
{
    for (int i = 0; i < fieldCount(); ++i) {
        if (column(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

AdtgField AdtgRecordset::field(int index) const
{
    if (index < 0 || index >= fieldCount() || eof())
        return AdtgField();
    const int c = m_visible[static_cast<size_t>(index)];
    return AdtgField(&m_columns[c], &currentValue(c));
}

AdtgField AdtgRecordset::field(QStringView name) const
{
    return field(fieldIndex(name));
}

AdtgRecordset::RawField AdtgRecordset::rawField(int index) const
{
    RawField raw;
    if (index < 0 || index >= fieldCount() || eof()) {
        raw.null = true;
        return raw;
    }
    const int c = m_visible[static_cast<size_t>(index)];
    raw.column = &m_columns[size_t(c)];
    const qsizetype slot = m_slots[size_t(c)];
    if (slot < 0) {
        raw.null = true;
        return raw;
    }
    auto& self = const_cast<AdtgRecordset&>(*this);
    Parser p(self, slot, m_data.size());
    qsizetype start = 0;
    if (p.skipValue(*raw.column, &start, &raw.length))
        raw.bytes = reinterpret_cast<const unsigned char*>(m_data.constData()) + start;
    return raw;
}

void AdtgRecordset::textAt(int index, QString& out) const
{
    const RawField raw = rawField(index);
    if (raw.null) {
        out.resize(0);
        return;
    }
    if (!raw.bytes || (raw.column->wireType != kWireWStr && raw.column->wireType != 0x08)) {
        out = field(index).toText();
        return;
    }
    wideTextInto(*raw.column, raw.bytes, raw.length / 2, out);
}

AdtgRecordset::InPlace AdtgRecordset::inPlace(int index, QString& text) const
{
    using Kind = InPlace::Kind;
    InPlace v;
    const RawField raw = rawField(index);
    if (raw.null) {
        v.kind = index >= 0 && index < fieldCount() && !eof() ? Kind::Null : Kind::Other;
        return v;
    }
    if (!raw.bytes)
        return v;
    const unsigned char* q = raw.bytes;
    // The same checks and values as Parser::value and Parser::scaled.
    if (fixedInteger(raw.column->wireType, q, &v.integer)) {
        v.kind = Kind::Integer;
        return v;
    }
    switch (raw.column->wireType) {
    case 0x0E:
    case 0x83: {
        const ScaledParts parts = scaledParts(raw.column->wireType, q);
        if (parts.scale > parts.maxScale)
            return v;
        v.kind = Kind::Scaled;
        v.scale = parts.scale;
        v.magnitude = parts.magnitude;
        v.negative = parts.negative;
        return v;
    }
    case kWireWStr:
    case 0x08:
        if (raw.length % 2)
            return v;
        v.kind = Kind::Text;
        wideTextInto(*raw.column, q, raw.length / 2, text);
        return v;
    default:
        return v;
    }
}

qint64 AdtgRecordset::integerAt(int index) const
{
    const RawField raw = rawField(index);
    if (!raw.bytes)
        return raw.null ? 0 : field(index).toInteger();
    qint64 value = 0;
    if (fixedInteger(raw.column->wireType, raw.bytes, &value))
        return value;
    if (raw.column->wireType == 0x15)
        return qFromLittleEndian<qint64>(raw.bytes);
    return field(index).toInteger();
}

qint64 AdtgRecordset::currencyAt(int index) const
{
    const RawField raw = rawField(index);
    if (!raw.bytes)
        return raw.null ? 0 : field(index).toCurrency();
    const unsigned char* q = raw.bytes;
    if (raw.column->wireType == 0x06)
        return qFromLittleEndian<qint64>(q);
    if (raw.column->wireType == 0x83) {
        // NUMERIC at four places or fewer: scaled to four without any rounding. Values of 10^17
        // and more take the general way, which knows their limits.
        const ScaledParts v = scaledParts(0x83, q);
        if (v.scale <= 4) {
            const Magnitude factor = detail::powerOfTen(4 - v.scale);
            if (v.magnitude < Magnitude(100000000000000000ULL) / factor) {
                const qint64 scaled = qint64(v.magnitude * factor);
                return v.negative ? -scaled : scaled;
            }
        }
    }
    return field(index).toCurrency();
}

QDate AdtgRecordset::dateAt(int index) const
{
    const RawField raw = rawField(index);
    if (!raw.bytes)
        return raw.null ? QDate(1899, 12, 30) : field(index).toDateTime().date();
    const unsigned char* q = raw.bytes;
    switch (raw.column->wireType) {
    case 0x07: {
        double d;
        const quint64 bits = qFromLittleEndian<quint64>(q);
        std::memcpy(&d, &bits, 8);
        return detail::fromOleDay(d);
    }
    case 0x85:
    case 0x87:
        return QDate(qFromLittleEndian<qint16>(q), qFromLittleEndian<quint16>(q + 2),
                     qFromLittleEndian<quint16>(q + 4));
    default:
        return field(index).toDateTime().date();
    }
}

bool AdtgRecordset::requireFields(const QStringList& names, QString* error) const
{
    for (const QString& n : names) {
        if (fieldIndex(n) < 0) {
            if (error)
                *error = QStringLiteral("data file %1: no column %2").arg(m_name, n);
            return false;
        }
    }
    return true;
}

// ---- typed reads

namespace {

QString plainNumber(double v)
{
    // Shortest text that reads back as the same double, without an exponent.
    return QString::number(v, 'f', QLocale::FloatingPointShortest);
}

QString plainNumber(float v)
{
    char buf[100];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return QString::fromLatin1(buf, r.ptr - buf);
}

// Rounds to the nearest integer, clamped to the 64-bit range (NaN reads as 0): values of a
// file may lie far outside what a typed read can return.
qint64 clampedRound(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 9.2233720368547748e18)
        return std::numeric_limits<qint64>::max();
    if (v <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return qRound64(v);
}

} // namespace

QString displayText(const AdtgColumn& column, const QVariant& value)
{
    if (!value.isValid())
        return QString();
    switch (value.typeId()) {
    case QMetaType::LongLong:
        if (column.wireType == 0x06) {
            // Two's complement negation in 128 bits also covers the lowest 64-bit value.
            const qint64 v = value.toLongLong();
            return detail::formatScaled(v < 0 ? Magnitude(0) - Magnitude(v) : Magnitude(v), 4, v < 0);
        }
        return QString::number(value.toLongLong());
    case QMetaType::ULongLong:
        return QString::number(value.toULongLong());
    case QMetaType::Float:
        return plainNumber(value.toFloat());
    case QMetaType::Double:
        return plainNumber(value.toDouble());
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
    case QMetaType::QTime:
        return value.toTime().toString(QStringLiteral("hh:mm:ss"));
    case QMetaType::QUuid:
        return value.toUuid().toString(QUuid::WithBraces).toUpper();
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toHex());
    default:
        return value.toString();
    }
}

QString AdtgField::toText() const
{
    if (isNull())
        return QString();
    if (m_value->typeId() == QMetaType::QString)
        return m_value->toString();
    return displayText(*m_column, *m_value);
}

qint64 AdtgField::toInteger() const
{
    if (isNull())
        return 0;
    switch (m_value->typeId()) {
    case QMetaType::LongLong:
        return m_column->wireType == 0x06 ? clampedRound(m_value->toLongLong() / 10000.0) : m_value->toLongLong();
    case QMetaType::ULongLong:
        return static_cast<qint64>(m_value->toULongLong());
    case QMetaType::Bool:
        return m_value->toBool() ? -1 : 0;
    case QMetaType::Float:
    case QMetaType::Double:
        return clampedRound(m_value->toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const qint64 v = m_value->toString().trimmed().toLongLong(&ok);
        return ok ? v : clampedRound(m_value->toString().trimmed().toDouble());
    }
    default:
        return 0;
    }
}

double AdtgField::toAmount() const
{
    if (isNull())
        return 0.0;
    if (m_value->typeId() == QMetaType::LongLong && m_column->wireType == 0x06)
        return m_value->toLongLong() / 10000.0;
    switch (m_value->typeId()) {
    case QMetaType::Bool:
        return m_value->toBool() ? -1.0 : 0.0;
    case QMetaType::QString:
        return m_value->toString().trimmed().toDouble();
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QByteArray:
    case QMetaType::QUuid:
        return 0.0;
    default:
        return m_value->toDouble();
    }
}

qint64 AdtgField::toCurrency() const
{
    if (isNull())
        return 0;
    if (m_value->typeId() == QMetaType::LongLong && m_column->wireType == 0x06)
        return m_value->toLongLong();
    if (m_value->typeId() == QMetaType::QString) {
        Magnitude m = 0;
        bool negative = false;
        // Round a decimal with more than four places half away from zero.
        QString text = m_value->toString().trimmed();
        const qsizetype dot = text.indexOf(QLatin1Char('.'));
        bool roundUp = false;
        if (dot >= 0 && text.size() - dot - 1 > 4) {
            roundUp = text.at(dot + 5) >= QLatin1Char('5');
            text.truncate(dot + 5);
        }
        if (detail::parseScaled(text, 4, Magnitude(INT64_MAX), &m, &negative)) {
            const qint64 v = static_cast<qint64>(m) + (roundUp ? 1 : 0);
            return negative || text.startsWith(QLatin1Char('-')) ? -v : v;
        }
    }
    return clampedRound(toAmount() * 10000.0);
}

QDateTime AdtgField::toDateTime() const
{
    const QDateTime dayZero = detail::plainDateTime(QDate(1899, 12, 30), QTime(0, 0));
    if (isNull())
        return dayZero;
    switch (m_value->typeId()) {
    case QMetaType::QDateTime:
        return m_value->toDateTime();
    case QMetaType::QDate:
        return detail::plainDateTime(m_value->toDate(), QTime(0, 0));
    case QMetaType::QTime:
        return detail::plainDateTime(QDate(1899, 12, 30), m_value->toTime());
    case QMetaType::Double:
    case QMetaType::Float:
        return detail::fromOleDate(m_value->toDouble());
    case QMetaType::QString: {
        const QDateTime dt = detail::parseDateTimeText(m_value->toString());
        return dt.isValid() ? dt : dayZero;
    }
    default:
        return dayZero;
    }
}

} // namespace sjql::adtg
