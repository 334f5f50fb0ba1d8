// SPDX-License-Identifier: MIT
// Row digests: every value of a row is put into a canonical byte form chosen by the kind of value
// the data file keeps for its column (text, integer, decimal, date and time, ...), the row's bytes
// are hashed to 128 bits. The form is built so that a value read from the database and the same
// value decoded from the data file give the same bytes: texts as UTF-16 code units, integers as
// 64-bit numbers, decimals as sign, digits and places with trailing zeros removed (a binary
// floating-point amount counts as the decimal it stands for, as the data-file writer takes it),
// dates as day number and milliseconds of the day, NULL as a tag of its own. A value that cannot
// be put into the column's form (text in a number column, more decimals than a floating-point
// amount may carry) gets a form no data file can produce, so it never matches.
#include "jobs/MonthRows.h"

#include "context/ModuleContext.h"
#include "db/RunQuery.h"
#include "hostapi/HostConnection.h"
#include "jobs/BackupDataFiles.h"
#include "jobs/RowBuilders.h"
#include "support/AdtgDetail.h"
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"
#include "support/MysqlTextRows.h"
#include "support/PhaseObserver.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace sjql {
namespace {

using adtg::detail::Magnitude;

// ---- 128-bit hash of a row's canonical bytes (MurmurHash3, x64 128-bit variant)

inline quint64 rotl(quint64 x, int r)
{
    return (x << r) | (x >> (64 - r));
}

inline quint64 fmix(quint64 k)
{
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

RowDigest hash128(const char* data, size_t len)
{
    constexpr quint64 c1 = 0x87c37b91114253d5ULL, c2 = 0x4cf5ad432745937fULL;
    quint64 h1 = 0x9368e53c2f6af274ULL, h2 = 0x586dcd208f7cd3fdULL;
    const size_t blocks = len / 16;
    for (size_t i = 0; i < blocks; ++i) {
        quint64 k1, k2;
        std::memcpy(&k1, data + i * 16, 8);
        std::memcpy(&k2, data + i * 16 + 8, 8);
        k1 *= c1;
        k1 = rotl(k1, 31);
        k1 *= c2;
        h1 ^= k1;
        h1 = rotl(h1, 27);
        h1 += h2;
        h1 = h1 * 5 + 0x52dce729;
        k2 *= c2;
        k2 = rotl(k2, 33);
        k2 *= c1;
        h2 ^= k2;
        h2 = rotl(h2, 31);
        h2 += h1;
        h2 = h2 * 5 + 0x38495ab5;
    }
    const unsigned char* tail = reinterpret_cast<const unsigned char*>(data + blocks * 16);
    quint64 k1 = 0, k2 = 0;
    const size_t rest = len & 15;
    for (size_t i = rest; i > 8; --i)
        k2 = (k2 << 8) | tail[i - 1];
    for (size_t i = std::min<size_t>(rest, 8); i > 0; --i)
        k1 = (k1 << 8) | tail[i - 1];
    if (rest > 8) {
        k2 *= c2;
        k2 = rotl(k2, 33);
        k2 *= c1;
        h2 ^= k2;
    }
    if (rest > 0) {
        k1 *= c1;
        k1 = rotl(k1, 31);
        k1 *= c2;
        h1 ^= k1;
    }
    h1 ^= len;
    h2 ^= len;
    h1 += h2;
    h2 += h1;
    h1 = fmix(h1);
    h2 = fmix(h2);
    h1 += h2;
    h2 += h1;
    return {h1, h2};
}

// ---- canonical forms

// The kind of value a data-file column keeps.
enum class Canon : quint8
{
    Text,
    Bytes,
    Integer,
    Decimal,
    Double,
    Single,
    DateTime,
    Time,
    Boolean,
    Guid,
    Undecided, // no declared type: decided by each value, as the writer decides the column
};

enum Tag : char
{
    TagNull = 0,
    TagText,
    TagBytes,
    TagInteger,
    TagUnsigned,
    TagDecimal,
    TagDouble,
    TagSingle,
    TagDateTime,
    TagTime,
    TagBoolean,
    TagGuid,
    TagUnreadable = 0x7F, // a database value the column's kind cannot take: never in a file
};

// How one column is read.
struct ColumnPlan
{
    QString name;
    Canon canon = Canon::Undecided;
    int scale = 0;               // Decimal: the column's places
    bool tenThousandths = false; // file side: currency integers count ten-thousandths
    bool bareTime = false;       // a date column that also takes a bare time of day
    qint64 low = 0, high = 0;    // Integer: the range of the column's type
    bool unsignedLong = false;   // Integer: unsigned 64-bit
    int integerDigits = -1;      // Decimal with a declared precision: digits before the point
    // The restore's reading of the column, when its builder writes it.
    bool restored = false;
    RestoreReading reading = RestoreReading::Text;
    int decimals = 0;
};

ColumnPlan planFor(const adtg::AdtgColumn& c)
{
    ColumnPlan p;
    p.name = c.name;
    auto integer = [&](qint64 lo, qint64 hi) {
        p.canon = Canon::Integer;
        p.low = lo;
        p.high = hi;
    };
    switch (c.wireType) {
    case 0x10:
        integer(-128, 127);
        break;
    case 0x11:
        integer(0, 255);
        break;
    case 0x02:
        integer(-32768, 32767);
        break;
    case 0x12:
        integer(0, 65535);
        break;
    case 0x03:
        integer(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
        break;
    case 0x13:
        integer(0, std::numeric_limits<quint32>::max());
        break;
    case 0x14:
        integer(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
        break;
    case 0x15:
        integer(0, std::numeric_limits<qint64>::max());
        p.unsignedLong = true;
        break;
    case 0x04:
        p.canon = Canon::Single;
        break;
    case 0x05:
        p.canon = Canon::Double;
        break;
    case 0x06:
        p.canon = Canon::Decimal;
        p.scale = 4;
        p.tenThousandths = true;
        break;
    case 0x0E:
    case 0x83:
    case 0x8B:
        p.canon = Canon::Decimal;
        p.scale = qBound(0, int(c.scale), 38);
        if (c.precision > 0 && c.precision <= 38 && int(c.precision) >= p.scale)
            p.integerDigits = int(c.precision) - p.scale;
        break;
    case 0x07:
    case 0x40:
    case 0x85:
    case 0x87:
        p.canon = Canon::DateTime;
        p.bareTime = c.wireType == 0x07;
        break;
    case 0x86:
        p.canon = Canon::Time;
        p.bareTime = true;
        break;
    case 0x0B:
        p.canon = Canon::Boolean;
        break;
    case 0x48:
        p.canon = Canon::Guid;
        break;
    case 0x80:
        p.canon = Canon::Bytes;
        break;
    case 0x81:
    case 0x82:
    case 0x08:
        p.canon = Canon::Text;
        break;
    default:
        break;
    }
    return p;
}

// What a value turned out to be, for the restorability check of the database side.
enum class Fault : quint8
{
    None,
    NotNumber,    // not a number at all
    MoreDecimals, // a floating-point amount with more places than its column
    NotInteger,
    OutOfType, // outside the range of the data file's column type
    NotDate,
    Other,
};

struct Facts
{
    bool null = false;
    Fault fault = Fault::None;
    bool hasNul = false;  // text holding U+0000
    bool numeric = false; // magnitude/negative/places hold the value
    Magnitude magnitude = 0;
    bool negative = false;
    int places = 0; // after trailing zeros are removed
    bool hasDate = false;
    QDate date;
    int msecs = 0;
    double real = 0; // Double/Single columns
};

template <typename Char> inline bool isBlank(Char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Plain decimal text: optional sign, digits with at most one point, no exponent; surrounding
// blanks allowed. The same texts the writer's decimal parsing takes.
template <typename Char> bool parseDecimal(const Char* p, qsizetype n, Magnitude* m, bool* negative, int* places)
{
    while (n > 0 && isBlank(p[0]))
        ++p, --n;
    while (n > 0 && isBlank(p[n - 1]))
        --n;
    bool neg = false;
    if (n > 0 && (p[0] == '-' || p[0] == '+')) {
        neg = p[0] == '-';
        ++p, --n;
    }
    Magnitude value = 0;
    int decimals = -1;
    bool anyDigit = false;
    constexpr Magnitude limit = ~Magnitude(0) / 10 - 10;
    for (qsizetype i = 0; i < n; ++i) {
        const Char ch = p[i];
        if (ch == '.') {
            if (decimals >= 0)
                return false;
            decimals = 0;
            continue;
        }
        if (ch < '0' || ch > '9')
            return false;
        anyDigit = true;
        if (decimals >= 0) {
            if (decimals >= 38)
                return false;
            ++decimals;
        }
        if (value > limit)
            return false;
        value = value * 10 + Magnitude(ch - '0');
    }
    if (!anyDigit)
        return false;
    *m = value;
    *negative = neg && value != 0;
    *places = decimals < 0 ? 0 : decimals;
    return true;
}

// Decimal integer text with optional sign and surrounding blanks.
template <typename Char> bool parseInteger(const Char* p, qsizetype n, Magnitude* m, bool* negative)
{
    int places = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] == '.')
            return false;
    }
    return parseDecimal(p, n, m, negative, &places) && places == 0;
}

// "yyyy-MM-dd" and "yyyy-MM-dd hh:mm:ss" read without building a date-time object; other texts
// go the writer's way (ISO forms with 'T', milliseconds, ...). False when the text is no date.
bool parseDateText(QStringView text, bool bareTime, QDate* date, int* msecs)
{
    if (adtg::detail::parsePlainDateText(text, date, msecs))
        return true;
    const QStringView t = text.trimmed();
    const QString whole = t.toString();
    QDateTime dt = adtg::detail::parseDateTimeText(whole);
    if (!dt.isValid() && bareTime) {
        const QTime time = QTime::fromString(whole, Qt::ISODateWithMs);
        if (time.isValid())
            dt = adtg::detail::plainDateTime(QDate(1899, 12, 30), time);
    }
    if (!dt.isValid())
        return false;
    *date = dt.date();
    *msecs = dt.time().msecsSinceStartOfDay();
    return true;
}

// Builds the canonical bytes of one row.
class RowEncoder
{
public:
    RowEncoder() { m_bytes.reserve(2048); }

    void begin(int columns)
    {
        m_bytes.clear();
        putPlain(quint16(columns));
    }
    RowDigest digest() const { return hash128(m_bytes.data(), m_bytes.size()); }

    // A value as a QVariant: from Qt's drivers on the database side, from the reader on the
    // file side. `f` receives what the value was.
    void value(const ColumnPlan& plan, const QVariant& v, Facts* f)
    {
        *f = Facts();
        if (!v.isValid() || v.isNull()) {
            f->null = true;
            m_bytes.push_back(TagNull);
            return;
        }
        switch (effectiveCanon(plan, v)) {
        case Canon::Text:
            if (v.typeId() == QMetaType::QString)
                text(*static_cast<const QString*>(v.constData()), f);
            else
                text(v.toString(), f);
            return;
        case Canon::Bytes: {
            const QByteArray b = v.toByteArray();
            m_bytes.push_back(TagBytes);
            putPlain(quint32(b.size()));
            m_bytes.append(b.constData(), size_t(b.size()));
            return;
        }
        case Canon::Integer:
            integerVariant(plan, v, f);
            return;
        case Canon::Decimal:
            decimalVariant(plan, v, f);
            return;
        case Canon::Double:
        case Canon::Single:
            realVariant(plan, v, f);
            return;
        case Canon::DateTime:
        case Canon::Time:
            dateVariant(plan, v, f);
            return;
        case Canon::Boolean:
            booleanVariant(v, f);
            return;
        case Canon::Guid: {
            const QUuid id = v.typeId() == QMetaType::QUuid ? v.toUuid() : QUuid::fromString(v.toString().trimmed());
            if (id.isNull() && v.toString().trimmed() != QLatin1String("{00000000-0000-0000-0000-000000000000}"))
                return unreadable(v, Fault::Other, f);
            m_bytes.push_back(TagGuid);
            const QByteArray b = id.toRfc4122();
            m_bytes.append(b.constData(), size_t(b.size()));
            return;
        }
        case Canon::Undecided:
            break;
        }
        text(v.toString(), f);
    }

    // A value as the server's UTF-8 text (MariaDB, read without the driver's conversions).
    // `bytes` is null for NULL.
    void raw(const ColumnPlan& plan, QByteArrayView bytes, bool isNull, Facts* f)
    {
        *f = Facts();
        if (isNull) {
            f->null = true;
            m_bytes.push_back(TagNull);
            return;
        }
        switch (plan.canon) {
        case Canon::Text: {
            m_wide.resize(size_t(bytes.size()) + 1);
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QChar* end = decoder.appendToBuffer(reinterpret_cast<QChar*>(m_wide.data()), bytes);
            text(QStringView(m_wide.data(), end - reinterpret_cast<QChar*>(m_wide.data())), f);
            return;
        }
        case Canon::Integer: {
            Magnitude m = 0;
            bool negative = false;
            if (!parseInteger(bytes.data(), bytes.size(), &m, &negative))
                return unreadable(QString::fromUtf8(bytes), Fault::NotInteger, f);
            return integerMagnitude(plan, m, negative, f);
        }
        case Canon::Decimal: {
            Magnitude m = 0;
            bool negative = false;
            int places = 0;
            if (!parseDecimal(bytes.data(), bytes.size(), &m, &negative, &places))
                return unreadable(QString::fromUtf8(bytes), Fault::NotNumber, f);
            return decimal(plan, m, negative, places, f);
        }
        case Canon::DateTime:
        case Canon::Time: {
            // Dates are ASCII: widened in place, no allocation.
            char16_t wide[32];
            if (bytes.size() <= qsizetype(std::size(wide))) {
                for (qsizetype i = 0; i < bytes.size(); ++i)
                    wide[i] = char16_t(uchar(bytes[i]));
                return dateText(plan, QStringView(wide, bytes.size()), f);
            }
            return dateText(plan, QString::fromUtf8(bytes), f);
        }
        default:
            // The rest as the writer gets it from this reader: the text as a QString.
            return value(plan, QVariant(QString::fromUtf8(bytes)), f);
        }
    }

    // A data file's value read in place (AdtgRecordset::inPlace, `text` holding a text): the same
    // bytes and facts as value() with the reader's value. False, with nothing added, for what it
    // leaves to value(): other kinds, and values whose kind is not the column's canonical one.
    bool inPlace(const ColumnPlan& plan, const adtg::AdtgRecordset::InPlace& v, const QString& text, Facts* f)
    {
        using Kind = adtg::AdtgRecordset::InPlace::Kind;
        switch (v.kind) {
        case Kind::Null:
            raw(plan, {}, true, f);
            return true;
        case Kind::Integer:
            if (plan.canon != Canon::Integer)
                return false;
            *f = Facts();
            integerMagnitude(plan, v.integer < 0 ? Magnitude(quint64(0) - quint64(v.integer)) : Magnitude(v.integer),
                             v.integer < 0, f);
            return true;
        case Kind::Scaled: {
            // Beyond 37 digits the decimal text value() reads is refused as no number.
            static const Magnitude readable = adtg::detail::powerOfTen(37);
            if (plan.canon != Canon::Decimal || v.magnitude >= readable)
                return false;
            *f = Facts();
            decimal(plan, v.magnitude, v.negative, v.scale, f);
            return true;
        }
        case Kind::Text:
            if (plan.canon != Canon::Text)
                return false;
            *f = Facts();
            this->text(text, f);
            return true;
        case Kind::Other:
            break;
        }
        return false;
    }

    // A value read in place (support/SelectedRows.h): the same bytes and facts as value() with
    // the driver's value, texts read where they are.
    void view(const ColumnPlan& plan, const adtg::ValueView& v, Facts* f)
    {
        using Kind = adtg::ValueView::Kind;
        switch (v.kind) {
        case Kind::Null:
            return raw(plan, {}, true, f);
        case Kind::Utf8:
            return raw(plan, v.bytes(), false, f);
        case Kind::Utf16:
            if (plan.canon == Canon::Text) {
                *f = Facts();
                return text(v.utf16(), f);
            }
            if (plan.canon == Canon::DateTime || plan.canon == Canon::Time) {
                *f = Facts();
                return dateText(plan, v.utf16(), f);
            }
            break;
        default:
            break;
        }
        value(plan, v.toVariant(), f);
    }

private:
    template <typename T> void putPlain(T v) { m_bytes.append(reinterpret_cast<const char*>(&v), sizeof v); }

    static Canon effectiveCanon(const ColumnPlan& plan, const QVariant& v)
    {
        if (plan.canon != Canon::Undecided)
            return plan.canon;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return Canon::Integer;
        case QMetaType::Double:
            return Canon::Double;
        case QMetaType::QByteArray:
            return Canon::Bytes;
        case QMetaType::QDate:
        case QMetaType::QDateTime:
            return Canon::DateTime;
        default:
            return Canon::Text;
        }
    }

    void text(QStringView s, Facts* f)
    {
        m_bytes.push_back(TagText);
        putPlain(quint32(s.size()));
        m_bytes.append(reinterpret_cast<const char*>(s.utf16()), size_t(s.size()) * 2);
        f->hasNul = s.contains(QChar(0));
    }

    void unreadable(const QVariant& v, Fault fault, Facts* f) { unreadable(v.toString(), fault, f); }
    void unreadable(const QString& shown, Fault fault, Facts* f)
    {
        m_bytes.push_back(TagUnreadable);
        putPlain(quint32(shown.size()));
        m_bytes.append(reinterpret_cast<const char*>(shown.utf16()), size_t(shown.size()) * 2);
        f->fault = fault;
    }

    void integerMagnitude(const ColumnPlan& plan, Magnitude m, bool negative, Facts* f)
    {
        f->numeric = true;
        f->magnitude = m;
        f->negative = negative;
        if (!negative && m > Magnitude(std::numeric_limits<qint64>::max())) {
            if (!plan.unsignedLong || m > Magnitude(std::numeric_limits<quint64>::max()))
                return unreadable(QStringLiteral("%1").arg(quint64(m)), Fault::OutOfType, f);
            m_bytes.push_back(TagUnsigned);
            putPlain(quint64(m));
            return;
        }
        if (negative && m > Magnitude(std::numeric_limits<qint64>::max()) + 1)
            return unreadable(QStringLiteral("-big"), Fault::OutOfType, f);
        const qint64 x = negative ? qint64(quint64(0) - quint64(m)) : qint64(m);
        m_bytes.push_back(TagInteger);
        putPlain(x);
        if (plan.canon == Canon::Integer && !plan.unsignedLong && (x < plan.low || x > plan.high))
            f->fault = Fault::OutOfType;
    }

    void integerVariant(const ColumnPlan& plan, const QVariant& v, Facts* f)
    {
        switch (v.typeId()) {
        case QMetaType::Bool:
            return integerMagnitude(plan, v.toBool() ? 1 : 0, false, f);
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::Long:
        case QMetaType::SChar:
        case QMetaType::Char: {
            const qint64 x = v.toLongLong();
            return integerMagnitude(plan, x < 0 ? Magnitude(quint64(0) - quint64(x)) : Magnitude(x), x < 0, f);
        }
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::UShort:
        case QMetaType::ULong:
        case QMetaType::UChar:
            return integerMagnitude(plan, Magnitude(v.toULongLong()), false, f);
        case QMetaType::Double:
        case QMetaType::Float: {
            const double d = v.toDouble();
            if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 9.2e18)
                return unreadable(v, Fault::NotInteger, f);
            const qint64 x = qint64(d);
            return integerMagnitude(plan, x < 0 ? Magnitude(quint64(0) - quint64(x)) : Magnitude(x), x < 0, f);
        }
        default:
            break;
        }
        const QString s = v.typeId() == QMetaType::QString ? *static_cast<const QString*>(v.constData()) : v.toString();
        Magnitude m = 0;
        bool negative = false;
        const QStringView t = QStringView(s).trimmed();
        if (!parseInteger(t.utf16(), t.size(), &m, &negative))
            return unreadable(s, Fault::NotInteger, f);
        integerMagnitude(plan, m, negative, f);
    }

    void decimal(const ColumnPlan& plan, Magnitude m, bool negative, int places, Facts* f)
    {
        // Trailing zeros of the fraction say nothing about the value.
        while (places > 0) {
            if (m <= Magnitude(std::numeric_limits<quint64>::max())) {
                quint64 small = quint64(m);
                while (places > 0 && small % 10 == 0) {
                    small /= 10;
                    --places;
                }
                m = small;
                break;
            }
            if (m % 10 != 0)
                break;
            m /= 10;
            --places;
        }
        if (m == 0) {
            negative = false;
            places = 0;
        }
        f->numeric = true;
        f->magnitude = m;
        f->negative = negative;
        f->places = places;
        m_bytes.push_back(TagDecimal);
        m_bytes.push_back(negative ? 1 : 0);
        m_bytes.push_back(char(places));
        putPlain(quint64(m));
        putPlain(quint64(m >> 64));
        if (places > plan.scale)
            f->fault = Fault::MoreDecimals;
        else if (plan.integerDigits >= 0 && plan.integerDigits + places <= 38 &&
                 m >= adtg::detail::powerOfTen(plan.integerDigits + places))
            f->fault = Fault::OutOfType; // more digits before the point than the precision allows
    }

    void decimalVariant(const ColumnPlan& plan, const QVariant& v, Facts* f)
    {
        switch (v.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float: {
            Magnitude m = 0;
            bool negative = false;
            if (!adtg::detail::decimalOfDouble(v.toDouble(), plan.scale, &m, &negative)) {
                unreadable(v, std::isfinite(v.toDouble()) ? Fault::MoreDecimals : Fault::NotNumber, f);
                f->real = v.toDouble();
                return;
            }
            return decimal(plan, m, negative, plan.scale, f);
        }
        case QMetaType::Int:
        case QMetaType::LongLong: {
            const qint64 x = v.toLongLong();
            const Magnitude m = x < 0 ? Magnitude(quint64(0) - quint64(x)) : Magnitude(x);
            return decimal(plan, m, x < 0, plan.tenThousandths ? 4 : 0, f);
        }
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return decimal(plan, Magnitude(v.toULongLong()), false, 0, f);
        case QMetaType::Bool:
            return decimal(plan, v.toBool() ? 1 : 0, false, 0, f);
        default:
            break;
        }
        const QString s = v.typeId() == QMetaType::QString ? *static_cast<const QString*>(v.constData()) : v.toString();
        const QStringView t = QStringView(s).trimmed();
        Magnitude m = 0;
        bool negative = false;
        int places = 0;
        if (!parseDecimal(t.utf16(), t.size(), &m, &negative, &places))
            return unreadable(s, Fault::NotNumber, f);
        decimal(plan, m, negative, places, f);
    }

    void realVariant(const ColumnPlan& plan, const QVariant& v, Facts* f)
    {
        bool ok = false;
        const double d = v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
        if (!ok)
            return unreadable(v, Fault::NotNumber, f);
        f->real = d;
        if (plan.canon == Canon::Single) {
            const float single = float(d);
            m_bytes.push_back(TagSingle);
            putPlain(single);
        } else {
            m_bytes.push_back(TagDouble);
            putPlain(d);
        }
        // An amount the restore writes from a floating-point column: its decimal, if it has one.
        Magnitude m = 0;
        bool negative = false;
        if (adtg::detail::decimalOfDouble(d, 4, &m, &negative)) {
            int places = 4;
            while (places > 0 && m % 10 == 0) {
                m /= 10;
                --places;
            }
            f->numeric = true;
            f->magnitude = m;
            f->negative = negative;
            f->places = places;
        }
    }

    void dateTime(const ColumnPlan& plan, QDate date, int msecs, Facts* f)
    {
        if (!date.isValid())
            return unreadable(QStringLiteral("invalid date"), Fault::NotDate, f);
        f->hasDate = true;
        f->date = date;
        f->msecs = msecs;
        if (plan.canon == Canon::Time) {
            m_bytes.push_back(TagTime);
            putPlain(qint32(msecs));
            return;
        }
        m_bytes.push_back(TagDateTime);
        putPlain(qint64(date.toJulianDay()));
        putPlain(qint32(msecs));
    }

    void dateText(const ColumnPlan& plan, QStringView text, Facts* f)
    {
        QDate date;
        int msecs = 0;
        if (!parseDateText(text, plan.bareTime, &date, &msecs))
            return unreadable(text.toString(), Fault::NotDate, f);
        dateTime(plan, date, msecs, f);
    }

    void dateVariant(const ColumnPlan& plan, const QVariant& v, Facts* f)
    {
        switch (v.typeId()) {
        case QMetaType::QDateTime: {
            const QDateTime dt = v.toDateTime();
            return dateTime(plan, dt.date(), dt.time().msecsSinceStartOfDay(), f);
        }
        case QMetaType::QDate:
            return dateTime(plan, v.toDate(), 0, f);
        case QMetaType::QTime:
            return dateTime(plan, QDate(1899, 12, 30), v.toTime().msecsSinceStartOfDay(), f);
        case QMetaType::Double:
            if (plan.canon == Canon::DateTime && plan.bareTime) {
                // An OLE date number, kept as it is by the writer.
                const QDateTime dt = adtg::detail::fromOleDate(v.toDouble());
                if (!dt.isValid())
                    return unreadable(v, Fault::NotDate, f);
                return dateTime(plan, dt.date(), dt.time().msecsSinceStartOfDay(), f);
            }
            break;
        case QMetaType::QString:
            return dateText(plan, *static_cast<const QString*>(v.constData()), f);
        default:
            break;
        }
        dateText(plan, v.toString(), f);
    }

    void booleanVariant(const QVariant& v, Facts* f)
    {
        bool b = false;
        if (!adtg::detail::booleanOfValue(v, &b))
            return unreadable(v, Fault::Other, f);
        m_bytes.push_back(TagBoolean);
        m_bytes.push_back(b ? 1 : 0);
    }

    std::string m_bytes;
    std::u16string m_wide;
};

// ---- tables and messages

// The columns that name a row to a user, per table kind.
const std::vector<const char*>& keyColumns(int index)
{
    static const std::vector<const char*> keys[3] = {{"GH", "ZZHM"}, {"ZZHM"}, {"ZZHM", "WYSBH"}};
    return keys[qBound(0, index, 2)];
}

QString tableName(int index)
{
    return QLatin1String(BackupDataFileKinds().at(size_t(qBound(0, index, 2))).table);
}

// A value as a user reads it in a message: NUL shown as \0, long texts cut.
QString shownValue(QString text)
{
    text.replace(QChar(0), QLatin1String("\\0"));
    if (text.size() > 60)
        text = text.left(60) + QStringLiteral("…");
    return text;
}

// Why the restore cannot write a value back as it was; empty when it can. `shown()` gives the
// value as the database holds it, for the message (called only when there is a problem).
template <typename Shown> QString restoreProblem(const ColumnPlan& plan, const Facts& f, Shown shown)
{
    const QString& column = plan.name;
    if (f.null)
        return {}; // written as the documented default ('' / 0 / 1899-12-30)
    switch (plan.reading) {
    case RestoreReading::Text:
        if (f.hasNul)
            return QStringLiteral("列%1的文本含有NUL字符，恢复时无法原样写回").arg(column);
        break;
    case RestoreReading::Integer: {
        if (!f.numeric || (f.fault != Fault::None && f.fault != Fault::OutOfType) || f.places != 0)
            return QStringLiteral("列%1的值“%2”不是整数，恢复时无法原样写回").arg(column, shown());
        // The statement writes a 32-bit integer.
        const Magnitude limit = Magnitude(std::numeric_limits<qint32>::max()) + (f.negative ? 1 : 0);
        if (f.magnitude > limit)
            return QStringLiteral("列%1的值%2超出整数范围（-2147483648至2147483647），恢复时无法原样写回")
                .arg(column, shown());
        break;
    }
    case RestoreReading::Amount: {
        // An amount is shown as the decimal it is, without the column's trailing zeros.
        auto amount = [&] {
            return f.numeric ? adtg::detail::formatScaled(f.magnitude, f.places, f.negative) : shown();
        };
        const bool floating = plan.canon == Canon::Double || plan.canon == Canon::Single;
        if (f.fault == Fault::MoreDecimals || (floating && !f.numeric) || (f.numeric && f.places > plan.decimals))
            return QStringLiteral("列%1的金额%2的小数多于%3位，恢复时无法原样写回")
                .arg(column, amount())
                .arg(plan.decimals);
        if (!f.numeric || (f.fault != Fault::None && f.fault != Fault::OutOfType))
            return QStringLiteral("列%1的值“%2”不是数值，恢复时无法原样写回").arg(column, shown());
        if (f.fault == Fault::OutOfType)
            return QStringLiteral("列%1的金额%2超出该列的位数（整数部分最多%3位），恢复时无法原样写回")
                .arg(column, amount())
                .arg(plan.integerDigits);
        // The restore reads amounts as a 64-bit count of ten-thousandths.
        const Magnitude scaled = f.magnitude * adtg::detail::powerOfTen(4 - f.places);
        if (scaled > Magnitude(std::numeric_limits<qint64>::max()))
            return QStringLiteral("列%1的金额%2超出恢复能写回的范围，恢复时无法原样写回").arg(column, amount());
        break;
    }
    case RestoreReading::Date:
        if (!f.hasDate || f.fault != Fault::None)
            return QStringLiteral("列%1的日期“%2”无法识别，恢复时无法原样写回").arg(column, shown());
        if (f.date.year() < 1 || f.date.year() > 9999)
            return QStringLiteral("列%1的日期%2超出范围，恢复时无法原样写回").arg(column, shown());
        if (f.msecs != 0)
            return QStringLiteral("列%1的日期%2含有时刻，恢复时只写回日期，无法原样写回").arg(column, shown());
        break;
    }
    if (f.fault != Fault::None)
        return QStringLiteral("列%1的值“%2”无法按数据文件中该列的类型保存").arg(column, shown());
    return {};
}

// A value the data file cannot take, for a column the restore does not write.
template <typename Shown> QString fileProblem(const ColumnPlan& plan, const Facts& f, Shown shown)
{
    if (f.null || f.fault == Fault::None)
        return {};
    return QStringLiteral("列%1的值“%2”无法按数据文件中该列的类型保存").arg(plan.name, shown());
}

// The connection the query runs on: the host's, or any open one with the same driver.
QSqlDatabase databaseOf(const QSqlQuery& query)
{
    if (HostConnection* host = GetHostConnection()) {
        const QSqlDatabase db = host->database();
        if (db.driver() == query.driver())
            return db;
    }
    for (const QString& name : QSqlDatabase::connectionNames()) {
        const QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.driver() == query.driver())
            return db;
    }
    return {};
}

// Marks the columns the restore's builder of table kind `index` writes with its reading of them;
// `missing` gets a builder column the plans lack.
void markRestored(std::vector<ColumnPlan>* plans, int index, QString* missing)
{
    missing->clear();
    for (const RestoreColumn& rc : RestoredColumns(index)) {
        bool found = false;
        for (ColumnPlan& p : *plans) {
            if (p.name.compare(QLatin1String(rc.name), Qt::CaseInsensitive) == 0) {
                p.restored = true;
                p.reading = rc.reading;
                p.decimals = rc.decimals;
                found = true;
                break;
            }
        }
        if (!found && missing->isEmpty())
            *missing = QLatin1String(rc.name);
    }
}

// The plans of the selection's columns (`names`): types as the writer declares them from the
// schema in `db`, and the restore's reading of each column its builder writes. `missing` gets a
// builder column the selection lacks.
bool planSelection(const QStringList& names, const QSqlDatabase& db, int index, std::vector<ColumnPlan>* plans,
                   QString* missing, QString* error)
{
    const QString table = tableName(index);
    std::vector<adtg::TableColumnInfo> schema;
    if (!db.isValid()) {
        *error = QStringLiteral("table %1: the query's connection is unknown").arg(table);
        return false;
    }
    if (!adtg::lookupTableColumns(db, table, &schema, error))
        return false;
    plans->clear();
    for (const QString& name : names) {
        adtg::AdtgColumn column;
        column.name = name;
        for (const adtg::TableColumnInfo& info : schema) {
            if (info.name.compare(name, Qt::CaseInsensitive) == 0) {
                column = adtg::columnForDeclaredType(name, info.declaredType, info.nullable);
                break;
            }
        }
        plans->push_back(planFor(column));
    }
    markRestored(plans, index, missing);
    return true;
}

std::vector<int> keyIndexes(const std::vector<ColumnPlan>& plans, int index)
{
    std::vector<int> out;
    for (const char* key : keyColumns(index)) {
        for (size_t i = 0; i < plans.size(); ++i) {
            if (plans[i].name.compare(QLatin1String(key), Qt::CaseInsensitive) == 0) {
                out.push_back(int(i));
                break;
            }
        }
    }
    return out;
}

} // namespace

// The digests of a selection's rows and the first problem among them, row by row.
struct SelectionDigest::Rows
{
public:
    bool start(const QStringList& names, const QSqlDatabase& db, int index)
    {
        m_index = index;
        if (!planSelection(names, db, index, &m_plans, &m_missing, &m_scan.error))
            return false;
        m_keys = keyIndexes(m_plans, index);
        m_facts.assign(m_plans.size(), Facts());
        return true;
    }

    // One row: `encode(encoder, plan, i, facts)` puts column i into the encoder, `shown(i)` gives
    // its value as the database holds it, for a message.
    template <typename Encode, typename Shown> void add(Encode encode, Shown shown)
    {
        const int count = int(m_plans.size());
        m_encoder.begin(count);
        for (int i = 0; i < count; ++i)
            encode(m_encoder, m_plans[size_t(i)], i, &m_facts[size_t(i)]);
        m_scan.digests.push_back(m_encoder.digest());
        if (m_scan.problem.isEmpty())
            checkRow(shown);
    }

    MonthRowsScan finish()
    {
        const QString table = tableName(m_index);
        if (!m_missing.isEmpty() && !m_scan.digests.empty() && m_scan.problem.isEmpty())
            m_scan.problem = QStringLiteral("%1：查询结果中没有列%2，恢复时无法写回").arg(table, m_missing);
        m_scan.ok = true;
        return std::move(m_scan);
    }

    MonthRowsScan failed(const QString& error)
    {
        m_scan.error = error;
        m_scan.digests.clear();
        return std::move(m_scan);
    }

    MonthRowsScan& scan() { return m_scan; }
    int index() const { return m_index; }

private:
    // Checks a row once it is encoded; the first problem found is kept.
    template <typename Shown> void checkRow(Shown valueShown)
    {
        for (int i = 0; i < int(m_plans.size()); ++i) {
            const ColumnPlan& plan = m_plans[size_t(i)];
            const Facts& f = m_facts[size_t(i)];
            if (f.null || (!plan.restored && f.fault == Fault::None))
                continue;
            auto shown = [&] { return shownValue(valueShown(i)); };
            const QString why = plan.restored ? restoreProblem(plan, f, shown) : fileProblem(plan, f, shown);
            if (why.isEmpty())
                continue;
            QStringList key;
            for (int k : m_keys)
                key << m_plans[size_t(k)].name + QLatin1Char('=') + shownValue(valueShown(k));
            m_scan.problem = tableName(m_index) +
                             (key.isEmpty() ? QString() : QLatin1Char(' ') + key.join(QLatin1Char(' '))) +
                             QStringLiteral("：") + why;
            return;
        }
    }

    int m_index = 0;
    std::vector<ColumnPlan> m_plans;
    QString m_missing;
    std::vector<int> m_keys;
    std::vector<Facts> m_facts;
    RowEncoder m_encoder;
    MonthRowsScan m_scan;
};

SelectionDigest::SelectionDigest() : m_rows(std::make_unique<Rows>()) {}
SelectionDigest::~SelectionDigest() = default;

bool SelectionDigest::start(const adtg::SelectedRows& rows, const QSqlDatabase& db, int index)
{
    QStringList names;
    for (int i = 0; i < rows.columnCount(); ++i)
        names << rows.columnName(i);
    return m_rows->start(names, db, index);
}

void SelectionDigest::add(const adtg::SelectedRows& rows)
{
    m_rows->add(
        [&](RowEncoder& encoder, const ColumnPlan& plan, int i, Facts* f) { encoder.view(plan, rows.value(i), f); },
        [&](int i) { return rows.value(i).toVariant().toString(); });
}

MonthRowsScan SelectionDigest::finish(const adtg::SelectedRows& rows)
{
    if (!m_rows->scan().error.isEmpty())
        return std::move(m_rows->scan()); // the plan could not be made
    if (!rows.errorString().isEmpty())
        return m_rows->failed(
            QStringLiteral("table %1: reading the rows: %2").arg(tableName(m_rows->index()), rows.errorString()));
    return m_rows->finish();
}

MonthRowsScan DigestSelectedRows(adtg::SelectedRows& rows, const QSqlDatabase& db, int index,
                                 const std::function<void()>& pump)
{
    SelectionDigest digest;
    if (!digest.start(rows, db, index))
        return digest.finish(rows); // not ok: the error says why
    qint64 rowNumber = 0;
    for (bool there = rows.first(); there; there = rows.next()) {
        digest.add(rows);
        if (pump && ++rowNumber % 512 == 0)
            pump();
    }
    return digest.finish(rows);
}

MonthRowsScan DigestSelectedRows(QSqlQuery& query, int index, const std::function<void()>& pump)
{
    const QString table = tableName(index);
    if (!query.isActive() || !query.isSelect()) {
        MonthRowsScan scan;
        scan.error = QStringLiteral("table %1: no open result to digest").arg(table);
        return scan;
    }
    // MariaDB: the server's text as the client library holds it, as the writer reads it too;
    // elsewhere the driver's values.
    if (const std::unique_ptr<adtg::MysqlTextRows> raw = adtg::MysqlTextRows::attach(query)) {
        MonthRowsScan scan = DigestSelectedRows(*raw, databaseOf(query), index, pump);
        // Leave the query after its last row, as a walk through the driver would.
        if (query.last())
            query.next();
        return scan;
    }
    const QSqlRecord record = query.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    SelectionDigest::Rows digest;
    if (!digest.start(names, databaseOf(query), index))
        return std::move(digest.scan());
    qint64 rowNumber = 0;
    bool more = query.at() == QSql::BeforeFirstRow ? query.next() : query.first();
    for (; more; more = query.next()) {
        digest.add([&](RowEncoder& encoder, const ColumnPlan& plan, int i,
                       Facts* f) { encoder.value(plan, query.value(i), f); },
                   [&](int i) { return query.value(i).toString(); });
        if (pump && ++rowNumber % 512 == 0)
            pump();
    }
    if (query.lastError().isValid())
        return digest.failed(QStringLiteral("table %1: reading the rows: %2").arg(table, query.lastError().text()));
    return digest.finish();
}

MonthRowsScan ScanDatabaseMonth(int index, const QString& period, const QString& agentCode,
                                const std::function<void()>& pump)
{
    bool ran = false;
    if (std::unique_ptr<adtg::SelectedRows> rows = SelectMonthRows(index, period, agentCode, &ran))
        return DigestSelectedRows(*rows, GetHostConnection()->database(), index, pump);
    QSqlQuery query;
    if (ran || !RunQuery(BackupSelectStatement(index, period, agentCode), query, true)) {
        MonthRowsScan scan;
        scan.error = QStringLiteral("table %1: the selection statement failed").arg(tableName(index));
        return scan;
    }
    MonthRowsScan scan = DigestSelectedRows(query, index, pump);
    query.finish();
    return scan;
}

MonthRowsScan ScanDataFile(const QString& path, int index, const QString& period, const QString& agentCode,
                           DataFileCheck check)
{
    MonthRowsScan scan;
    adtg::AdtgRecordset rs;
    if (!Timed(Phase::ReadingBack, [&] { return rs.open(path); })) {
        scan.error = rs.errorString();
        return scan;
    }
    const int count = rs.fieldCount();
    std::vector<ColumnPlan> plans;
    for (int i = 0; i < count; ++i)
        plans.push_back(planFor(rs.column(i)));
    const bool restorable = check == DataFileCheck::Restorable;
    QString missing;
    if (restorable)
        markRestored(&plans, index, &missing);
    const std::vector<int> keys = keyIndexes(plans, index);
    const int agentColumn = rs.fieldIndex(u"KJYWRBM");
    const int periodColumn = rs.fieldIndex(u"FFYF");
    const QString name = QFileInfo(path).fileName();
    if ((agentColumn < 0 || periodColumn < 0) && rs.recordCount() > 0)
        scan.problem = QStringLiteral("%1中没有列%2，无法确认其行的扣缴义务人/所属期")
                           .arg(name, QLatin1String(agentColumn < 0 ? "KJYWRBM" : "FFYF"));
    else if (!missing.isEmpty() && rs.recordCount() > 0)
        scan.problem = QStringLiteral("%1中没有列%2，恢复时无法写回").arg(name, missing);

    static const QVariant kNull;
    RowEncoder encoder;
    std::vector<Facts> facts(static_cast<size_t>(count));
    auto rowKey = [&] {
        QStringList key;
        for (int k : keys)
            key << plans[size_t(k)].name + QLatin1Char('=') + shownValue(rs.field(k).toText());
        return key.join(QLatin1Char(' '));
    };
    // The first value of the row the restore could not write back as it is; empty when none.
    auto restoreProblemOfRow = [&] {
        for (int i = 0; i < count; ++i) {
            const ColumnPlan& plan = plans[size_t(i)];
            auto shown = [&] { return shownValue(rs.field(i).toText()); };
            const QString why = plan.restored ? restoreProblem(plan, facts[size_t(i)], shown)
                                              : fileProblem(plan, facts[size_t(i)], shown);
            if (!why.isEmpty())
                return why;
        }
        return QString();
    };
    scan.digests.reserve(size_t(rs.recordCount()));
    QString text; // a text value read in place, its memory kept from value to value
    for (int row = 1; !rs.eof(); rs.moveNext(), ++row) {
        encoder.begin(count);
        for (int i = 0; i < count; ++i) {
            // Most values are read straight from the file's bytes; the rest as the reader decodes them.
            const ColumnPlan& plan = plans[size_t(i)];
            if (encoder.inPlace(plan, rs.inPlace(i, text), text, &facts[size_t(i)]))
                continue;
            const adtg::AdtgField field = rs.field(i);
            encoder.value(plan, field.isNull() ? kNull : field.value(), &facts[size_t(i)]);
        }
        scan.digests.push_back(encoder.digest());
        if (!scan.problem.isEmpty() || agentColumn < 0 || periodColumn < 0)
            continue;
        const adtg::AdtgField agent = rs.field(agentColumn);
        const adtg::AdtgField month = rs.field(periodColumn);
        if (agent.isNull() || month.isNull() || agent.toText() != agentCode || month.toText() != period) {
            scan.problem =
                QStringLiteral("%1第%2行（%3）的扣缴义务人/所属期（%4/%5）与本月（%6/%7）不符")
                    .arg(name)
                    .arg(row)
                    .arg(rowKey(), agent.isNull() ? QStringLiteral("NULL") : shownValue(agent.toText()),
                         month.isNull() ? QStringLiteral("NULL") : shownValue(month.toText()), agentCode, period);
            continue;
        }
        if (!restorable)
            continue;
        if (const QString why = restoreProblemOfRow(); !why.isEmpty())
            scan.problem = QStringLiteral("%1第%2行（%3）：%4").arg(name).arg(row).arg(rowKey(), why);
    }
    scan.ok = true;
    return scan;
}

bool DigestsContained(std::vector<RowDigest> part, std::vector<RowDigest> whole)
{
    std::sort(part.begin(), part.end());
    std::sort(whole.begin(), whole.end());
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

} // namespace sjql
