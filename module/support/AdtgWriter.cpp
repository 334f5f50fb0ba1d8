// SPDX-License-Identifier: MIT
#include "support/AdtgWriter.h"

#include "hostapi/FileModes.h"
#include "support/AdtgDetail.h"
#include "support/BesideEvents.h"
#include "support/MysqlTextRows.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QSysInfo>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <unistd.h>

namespace sjql::adtg {

using detail::Magnitude;

namespace detail {

Magnitude powerOfTen(int digits)
{
    static const auto table = [] {
        std::array<Magnitude, 39> t{};
        t[0] = 1;
        for (size_t i = 1; i < t.size(); ++i)
            t[i] = t[i - 1] * 10;
        return t;
    }();
    return table[static_cast<size_t>(qBound(0, digits, 38))];
}

bool decimalOfDouble(double value, int scale, Magnitude* magnitude, bool* negative)
{
    if (!std::isfinite(value) || scale < 0 || scale > 38)
        return false;
    // Accepted when the distance to the nearest whole number of units of the last place is within
    // 1e-12 of the value, or of one unit for values smaller than that.
    auto near = [](auto x, auto nearest) { return std::fabs(x - nearest) <= 1e-12 * std::max(x, decltype(x)(1)); };
    constexpr double two53 = 9007199254740992.0;
    if (scale <= 22) {
        // Most amounts: in double arithmetic, whose rounding of the product (a relative 1e-16) is
        // far below the tolerance.
        static const auto powers = [] {
            std::array<double, 23> p{};
            p[0] = 1;
            for (size_t i = 1; i < p.size(); ++i)
                p[i] = p[i - 1] * 10; // exact up to 10^22
            return p;
        }();
        const double x = std::fabs(value) * powers[static_cast<size_t>(scale)];
        if (x < two53) {
            const double nearest = std::round(x);
            if (!near(x, nearest))
                return false;
            *magnitude = Magnitude(static_cast<quint64>(nearest));
            *negative = value < 0 && *magnitude != 0;
            return true;
        }
    }
    // Large values in x87 extended precision, where a double times 10^scale is exact up to four
    // places (53 + 10 bits) and close enough beyond.
    const long double x = std::fabs(static_cast<long double>(value)) * static_cast<long double>(powerOfTen(scale));
    constexpr long double two64 = 18446744073709551616.0L;
    if (!(x < two64 * two64 / 2))
        return false;
    const long double nearest = std::roundl(x);
    if (!near(x, nearest))
        return false;
    // `nearest` is a whole number of at most 64 significant bits: both halves convert exactly.
    const long double high = std::floor(nearest / two64);
    const long double low = nearest - high * two64;
    *magnitude = (Magnitude(static_cast<quint64>(high)) << 64) | Magnitude(static_cast<quint64>(low));
    *negative = value < 0 && *magnitude != 0;
    return true;
}

} // namespace detail

namespace {

void putU8(QByteArray* out, quint8 v)
{
    out->append(static_cast<char>(v));
}

template <typename T> void putLe(QByteArray* out, T v)
{
    char b[sizeof(T)];
    qToLittleEndian<T>(v, b);
    out->append(b, sizeof(T));
}

void putHex(QByteArray* out, const char* hex)
{
    out->append(QByteArray::fromHex(hex));
}

void putName(QByteArray* out, const QString& s)
{
    putLe<quint16>(out, static_cast<quint16>(s.size()));
    for (QChar ch : s)
        putLe<quint16>(out, ch.unicode());
}

// Sized element: token, u16 size, body.
void putElement(QByteArray* out, quint8 token, const QByteArray& body)
{
    putU8(out, token);
    putLe<quint16>(out, static_cast<quint16>(body.size()));
    out->append(body);
}

// The fixed parts ADO writes around the column descriptors.
constexpr const char* kHeader = "0107544721"
                                "00000000";
constexpr const char* kHandlerOptions = "021900"
                                        "B692F23F04B2CF118D2300AA005FFE58"
                                        "01"
                                        "0000"
                                        "0000"
                                        "0000"
                                        "0000";
constexpr const char* kDescriptorGuid = "D2AD63F602EBCF11B0E300AA003F000F";
constexpr const char* kResultProperties = "0100"
                                          "C13C8EB6EB6DD0118DF600AA005FFE58"
                                          "0700"
                                          "0B000000040001000000"
                                          "13000000040001000000"
                                          "0D0000000000"
                                          "0E0000000000"
                                          "0F0000000000"
                                          "100000000000"
                                          "120000000000";
constexpr const char* kContext = "107C00"
                                 "0200"
                                 "BE22B5C8F35CCE11ADE500AA0044773D"
                                 "0400"
                                 "7F0000000200FFFF"
                                 "860000000200FFFF"
                                 "22000000040000000000"
                                 "49000000040000000000"
                                 "C13C8EB6EB6DD0118DF600AA005FFE58"
                                 "0500"
                                 "0400000004000F000000"
                                 "05000000040002000000"
                                 "0300000004000F000000"
                                 "07000000040032000000"
                                 "08000000040003000000";

bool isText(std::uint16_t wire)
{
    return wire == kWireStr || wire == kWireWStr || wire == kWireBytes;
}

// The range of a signed or small integer wire type (0x10, 0x11, 0x02, 0x12, 0x03, 0x13, 0x14).
std::pair<qint64, qint64> integerRange(std::uint16_t wire)
{
    switch (wire) {
    case 0x10:
        return {-128, 127};
    case 0x11:
        return {0, 255};
    case 0x02:
        return {-32768, 32767};
    case 0x12:
        return {0, 65535};
    case 0x03:
        return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    case 0x13:
        return {0, std::numeric_limits<quint32>::max()};
    default:
        return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    }
}

void putInteger(QByteArray* out, std::uint16_t wire, qint64 i)
{
    switch (wire) {
    case 0x10:
    case 0x11:
        putU8(out, static_cast<quint8>(i));
        return;
    case 0x02:
        putLe<qint16>(out, static_cast<qint16>(i));
        return;
    case 0x12:
        putLe<quint16>(out, static_cast<quint16>(i));
        return;
    case 0x03:
        putLe<qint32>(out, static_cast<qint32>(i));
        return;
    case 0x13:
        putLe<quint32>(out, static_cast<quint32>(i));
        return;
    default:
        putLe<qint64>(out, i);
        return;
    }
}

// The largest magnitude a DECIMAL (0x0E) or NUMERIC (0x83) column holds.
Magnitude decimalLimit(const AdtgColumn& c)
{
    Magnitude limit = c.wireType == 0x0E ? (Magnitude(1) << 96) - 1 : ~Magnitude(0);
    // The declared precision bounds the digits as well: numeric(16,2) holds 14 before the point.
    if (c.precision > 0 && c.precision <= 38)
        limit = qMin(limit, detail::powerOfTen(static_cast<int>(c.precision)) - 1);
    return limit;
}

bool decimalScaleFits(const AdtgColumn& c)
{
    return c.scale >= 0 && c.scale <= (c.wireType == 0x0E ? 28 : 38);
}

void putDecimal(QByteArray* out, const AdtgColumn& c, Magnitude m, bool negative)
{
    if (c.wireType == 0x0E) {
        putLe<quint16>(out, 0);
        putU8(out, static_cast<quint8>(c.scale));
        putU8(out, negative ? 0x80 : 0x00);
        putLe<quint32>(out, static_cast<quint32>(m >> 64));
        putLe<quint64>(out, static_cast<quint64>(m));
    } else {
        putU8(out, static_cast<quint8>(c.precision));
        putU8(out, static_cast<quint8>(c.scale));
        putU8(out, negative ? 0x00 : 0x01);
        putLe<quint64>(out, static_cast<quint64>(m));
        putLe<quint64>(out, static_cast<quint64>(m >> 64));
    }
}

void putDouble(QByteArray* out, double d)
{
    quint64 bits;
    std::memcpy(&bits, &d, 8);
    putLe<quint64>(out, bits);
}

// Whether `size` bytes of a text or binary value fit the column.
bool fitsColumn(const AdtgColumn& c, qsizetype size)
{
    const std::uint64_t b = c.maxBytes();
    return b == kUnlimitedLength || static_cast<std::uint64_t>(size) <= b;
}

// Text or binary bytes that fit the column, with its length rule: fixed columns padded (blanks,
// or zero bytes for binary), a one-byte length for columns of at most 255 bytes, else four bytes.
void putSized(QByteArray* out, const AdtgColumn& c, const char* data, qsizetype size)
{
    const std::uint64_t b = c.maxBytes();
    const bool wide = c.wireType == kWireWStr;
    qsizetype padding = 0;
    const bool padded = c.fixedLength() && b != kUnlimitedLength;
    while (padded && static_cast<std::uint64_t>(size + padding) < b)
        padding += wide ? 2 : 1;
    const qsizetype total = size + padding;
    if (!(padded && b <= 255)) {
        if (b <= 255)
            putU8(out, static_cast<quint8>(total));
        else
            putLe<quint32>(out, static_cast<quint32>(total));
    }
    out->append(data, size);
    for (qsizetype i = 0; i < padding; i += wide ? 2 : 1) {
        if (wide)
            out->append(' ').append('\0');
        else
            out->append(c.wireType == kWireBytes ? '\0' : ' ');
    }
}

// Plain ASCII text of at most 64 characters widened into `buffer`; false for other texts.
bool widenAscii(QByteArrayView bytes, char16_t (&buffer)[64], QStringView* out)
{
    if (bytes.size() > qsizetype(std::size(buffer)))
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar ch = uchar(bytes[i]);
        if (ch >= 0x80)
            return false;
        buffer[i] = ch;
    }
    *out = QStringView(buffer, bytes.size());
    return true;
}

// "yyyy-MM-dd" or "yyyy-MM-dd hh:mm:ss" as an OLE date, computed as toOleDate() does for what
// parseDateTimeText() reads from it; false for every other text (read the general way).
bool oleDateOfPlainText(QStringView t, double* result)
{
    QDate date;
    int msecs = 0;
    if (!detail::parsePlainDateText(t, &date, &msecs))
        return false;
    *result = detail::toOleDate(detail::plainDateTime(date, QTime::fromMSecsSinceStartOfDay(msecs)));
    return true;
}

} // namespace

AdtgWriter::AdtgWriter(std::vector<AdtgColumn> columns) : m_columns(std::move(columns))
{
    if (m_columns.empty() || m_columns.size() > 0xFFFF)
        m_error = QStringLiteral("a data file needs 1 to 65535 columns, not %1").arg(m_columns.size());
    QSet<QString> seen;
    for (const AdtgColumn& c : m_columns) {
        if (!m_error.isEmpty())
            break;
        const QString key = c.name.toLower();
        if (c.name.isEmpty() || c.name.size() > 0x7FFF || seen.contains(key))
            m_error = QStringLiteral("column name \"%1\" is empty, too long or not unique").arg(c.name);
        else if (c.wireType == 0 || c.wireType == kWireVarNumeric || fixedWireSize(c.wireType) < 0)
            m_error = QStringLiteral("column %1: type %2 cannot be written").arg(c.name).arg(c.wireType);
        seen.insert(key);
    }
}

bool AdtgWriter::valueError(const AdtgColumn& column, const QVariant& value, const QString& why)
{
    m_error = QStringLiteral("row %1, column %2: value \"%3\" %4")
                  .arg(m_rowCount + 1)
                  .arg(column.name, value.toString().left(80), why);
    return false;
}

bool AdtgWriter::encodeValue(const AdtgColumn& c, const QVariant& v, QByteArray* out)
{
    auto integer = [&](qint64 lo, qint64 hi, qint64* result) {
        bool ok = false;
        qint64 x = 0;
        if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
            const double d = v.toDouble();
            ok = std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
            x = ok ? static_cast<qint64>(d) : 0;
        } else if (v.typeId() == QMetaType::Bool) {
            ok = true;
            x = v.toBool() ? 1 : 0;
        } else {
            x = v.toString().trimmed().toLongLong(&ok);
        }
        if (!ok || x < lo || x > hi)
            return valueError(c, v, QStringLiteral("is not an integer in %1..%2").arg(lo).arg(hi));
        *result = x;
        return true;
    };
    auto unsignedInteger = [&](quint64 hi, quint64* result) {
        bool ok = false;
        const quint64 x = v.toString().trimmed().toULongLong(&ok);
        if (!ok || x > hi)
            return valueError(c, v, QStringLiteral("is not an integer in 0..%1").arg(hi));
        *result = x;
        return true;
    };
    // Exact decimal at `scale` places, at most `limit`: decimal text as it is, binary floating
    // point as the decimal it stands for. A value with more decimals or more digits is refused
    // rather than rounded or cut, so that the file never holds another amount than the database.
    auto scaled = [&](int scale, Magnitude limit, Magnitude* m, bool* negative) {
        if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
            const double d = v.toDouble();
            if (!std::isfinite(d))
                return valueError(c, v, QStringLiteral("is not a finite number"));
            if (!detail::decimalOfDouble(d, scale, m, negative))
                return valueError(c, v, QStringLiteral("has more than %1 decimals").arg(scale));
        } else if (!detail::parseScaled(v.toString(), scale, ~Magnitude(0), m, negative)) {
            return valueError(c, v, QStringLiteral("is not a number of at most %1 decimals").arg(scale));
        }
        if (*m > limit)
            return valueError(c, v, QStringLiteral("has more digits than the column holds"));
        return true;
    };
    auto dateTime = [&](QDateTime* result) {
        QDateTime dt;
        if (v.typeId() == QMetaType::QDateTime)
            dt = detail::plainDateTime(v.toDateTime().date(), v.toDateTime().time());
        else if (v.typeId() == QMetaType::QDate)
            dt = detail::plainDateTime(v.toDate(), QTime(0, 0));
        else if (v.typeId() == QMetaType::QTime)
            dt = detail::plainDateTime(QDate(1899, 12, 30), v.toTime());
        else
            dt = detail::parseDateTimeText(v.toString());
        if (!dt.isValid() && (c.wireType == 0x86 || c.wireType == 0x07)) {
            // A bare time of day, as time columns hand it over.
            const QTime t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
            if (t.isValid())
                dt = detail::plainDateTime(QDate(1899, 12, 30), t);
        }
        if (!dt.isValid())
            return valueError(c, v, QStringLiteral("is not a date"));
        *result = dt;
        return true;
    };

    qint64 i = 0;
    quint64 u = 0;
    switch (c.wireType) {
    case 0x10:
    case 0x11:
    case 0x02:
    case 0x12:
    case 0x03:
    case 0x13:
    case 0x14: {
        const auto [lo, hi] = integerRange(c.wireType);
        if (!integer(lo, hi, &i))
            return false;
        putInteger(out, c.wireType, i);
        return true;
    }
    case 0x15:
        if (!unsignedInteger(std::numeric_limits<quint64>::max(), &u))
            return false;
        putLe<quint64>(out, u);
        return true;
    case 0x04:
    case 0x05: {
        bool ok = false;
        const double d = v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
        if (!ok)
            return valueError(c, v, QStringLiteral("is not a number"));
        if (c.wireType == 0x04) {
            const float f = static_cast<float>(d);
            quint32 bits;
            std::memcpy(&bits, &f, 4);
            putLe<quint32>(out, bits);
        } else {
            quint64 bits;
            std::memcpy(&bits, &d, 8);
            putLe<quint64>(out, bits);
        }
        return true;
    }
    case 0x06: {
        Magnitude m = 0;
        bool negative = false;
        // The lowest value, -922337203685477.5808, has a magnitude one above the highest.
        if (!scaled(4, Magnitude(std::numeric_limits<qint64>::max()) + 1, &m, &negative))
            return false;
        if (!negative && m > Magnitude(std::numeric_limits<qint64>::max()))
            return valueError(c, v, QStringLiteral("is out of the currency range"));
        const quint64 low = static_cast<quint64>(m);
        putLe<qint64>(out, negative ? static_cast<qint64>(0 - low) : static_cast<qint64>(low));
        return true;
    }
    case 0x0E:
    case 0x83: {
        if (!decimalScaleFits(c))
            return valueError(c, v, QStringLiteral("needs scale %1, which the type cannot hold").arg(c.scale));
        Magnitude m = 0;
        bool negative = false;
        if (!scaled(c.scale, decimalLimit(c), &m, &negative))
            return false;
        putDecimal(out, c, m, negative);
        return true;
    }
    case 0x07: {
        QDateTime dt;
        if (v.typeId() == QMetaType::Double) {
            // An OLE date number as it is.
            putDouble(out, v.toDouble());
            return true;
        }
        if (!dateTime(&dt))
            return false;
        putDouble(out, detail::toOleDate(dt));
        return true;
    }
    case 0x40: {
        QDateTime dt;
        std::uint64_t ticks = 0;
        if (!dateTime(&dt))
            return false;
        if (!detail::toFileTime(dt, &ticks))
            return valueError(c, v, QStringLiteral("is before 1601"));
        putLe<quint64>(out, ticks);
        return true;
    }
    case 0x85:
    case 0x86:
    case 0x87: {
        QDateTime dt;
        if (!dateTime(&dt))
            return false;
        const QDate d = dt.date();
        const QTime t = dt.time();
        if (c.wireType == 0x86) {
            putLe<quint16>(out, static_cast<quint16>(t.hour()));
            putLe<quint16>(out, static_cast<quint16>(t.minute()));
            putLe<quint16>(out, static_cast<quint16>(t.second()));
            return true;
        }
        if (d.year() < -32768 || d.year() > 32767)
            return valueError(c, v, QStringLiteral("has a year out of range"));
        putLe<qint16>(out, static_cast<qint16>(d.year()));
        putLe<quint16>(out, static_cast<quint16>(d.month()));
        putLe<quint16>(out, static_cast<quint16>(d.day()));
        if (c.wireType == 0x87) {
            putLe<quint16>(out, static_cast<quint16>(t.hour()));
            putLe<quint16>(out, static_cast<quint16>(t.minute()));
            putLe<quint16>(out, static_cast<quint16>(t.second()));
            putLe<quint32>(out, static_cast<quint32>(t.msec()) * 1000000u);
        }
        return true;
    }
    case 0x0B: {
        bool b = false;
        if (!detail::booleanOfValue(v, &b))
            return valueError(c, v, QStringLiteral("is not a boolean"));
        putLe<quint16>(out, b ? 0xFFFF : 0x0000);
        return true;
    }
    case 0x48: {
        const QUuid id = v.typeId() == QMetaType::QUuid ? v.toUuid() : QUuid::fromString(v.toString().trimmed());
        if (id.isNull() && v.toString().trimmed() != QLatin1String("{00000000-0000-0000-0000-000000000000}"))
            return valueError(c, v, QStringLiteral("is not a GUID"));
        putLe<quint32>(out, id.data1);
        putLe<quint16>(out, id.data2);
        putLe<quint16>(out, id.data3);
        out->append(reinterpret_cast<const char*>(id.data4), 8);
        return true;
    }
    default:
        break;
    }

    // Text and binary: the byte form, then the length rule of the column.
    QByteArray bytes;
    const bool wide = c.wireType == kWireWStr;
    if (c.wireType == kWireBytes) {
        bytes = v.toByteArray();
    } else if (wide) {
        const QString s = v.toString();
        bytes.resize(s.size() * 2);
        qToLittleEndian<quint16>(s.constData(), s.size(), bytes.data());
    } else {
        QStringEncoder encoder(m_ansiCodePage.constData());
        const QString s = v.toString();
        bytes = encoder.isValid() ? QByteArray(encoder.encode(s)) : s.toLatin1();
        if (encoder.hasError())
            return valueError(
                c, v, QStringLiteral("has characters outside code page %1").arg(QString::fromLatin1(m_ansiCodePage)));
    }
    if (!fitsColumn(c, bytes.size()))
        return valueError(c, v, QStringLiteral("is longer than the column's %1 bytes").arg(c.maxBytes()));
    if (c.maxBytes() != kUnlimitedLength && static_cast<std::uint64_t>(bytes.size()) > 0xFFFFFFFFu)
        return valueError(c, v, QStringLiteral("is too long"));
    putSized(out, c, bytes.constData(), bytes.size());
    return true;
}

bool AdtgWriter::encodeValue(const AdtgColumn& c, const ValueView& v, QByteArray* out)
{
    using Kind = ValueView::Kind;
    // The common forms are written from the view; everything else, and every value that does not
    // fit (for its message), goes through the driver's value.
    switch (c.wireType) {
    case 0x10:
    case 0x11:
    case 0x02:
    case 0x12:
    case 0x03:
    case 0x13:
    case 0x14:
        if (v.kind == Kind::Integer) {
            const auto [lo, hi] = integerRange(c.wireType);
            if (v.integer >= lo && v.integer <= hi) {
                putInteger(out, c.wireType, v.integer);
                return true;
            }
        }
        break;
    case 0x0E:
    case 0x83: {
        if (!decimalScaleFits(c))
            break;
        Magnitude m = 0;
        bool negative = false;
        bool read = false;
        if (v.kind == Kind::Real) {
            read = std::isfinite(v.real) && detail::decimalOfDouble(v.real, c.scale, &m, &negative);
        } else if (v.kind == Kind::Integer || v.kind == Kind::Utf8 || v.kind == Kind::Utf16) {
            // Decimal text as the driver's QString reads: integers in their decimal form.
            char16_t buffer[64];
            QStringView text;
            if (v.kind == Kind::Utf16) {
                text = v.utf16();
            } else if (v.kind == Kind::Utf8) {
                read = widenAscii(v.bytes(), buffer, &text);
                if (!read)
                    break;
            } else {
                char digits[24];
                const auto end = std::to_chars(digits, digits + sizeof digits, v.integer).ptr;
                (void)widenAscii(QByteArrayView(digits, end - digits), buffer, &text);
            }
            read = detail::parseScaled(text, c.scale, ~Magnitude(0), &m, &negative);
        }
        if (read && m <= decimalLimit(c)) {
            putDecimal(out, c, m, negative);
            return true;
        }
        break;
    }
    case 0x07: {
        double d = 0;
        if (v.kind == Kind::Real) {
            putDouble(out, v.real); // an OLE date number as it is
            return true;
        }
        char16_t buffer[64];
        QStringView text;
        if (v.kind == Kind::Utf16)
            text = v.utf16();
        else if (v.kind != Kind::Utf8 || !widenAscii(v.bytes(), buffer, &text))
            break;
        if (oleDateOfPlainText(text, &d)) {
            putDouble(out, d);
            return true;
        }
        break;
    }
    case kWireWStr:
        if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
            QStringView text;
            if (v.kind == Kind::Utf16) {
                text = v.utf16();
            } else if (v.kind == Kind::Utf8) {
                m_wide.resize(size_t(v.size) + 1);
                QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
                QChar* end = decoder.appendToBuffer(reinterpret_cast<QChar*>(m_wide.data()), v.bytes());
                text = QStringView(m_wide.data(), end - reinterpret_cast<QChar*>(m_wide.data()));
            } else {
                break;
            }
            if (fitsColumn(c, text.size() * 2) && static_cast<std::uint64_t>(text.size()) * 2 <= 0xFFFFFFFFu) {
                putSized(out, c, reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
                return true;
            }
        }
        break;
    default:
        break;
    }
    return encodeValue(c, v.toVariant(), out);
}

bool AdtgWriter::addRow(const QVariantList& values)
{
    return addRowOf(values.size(), [&](size_t i) -> const QVariant& { return values[static_cast<qsizetype>(i)]; });
}

bool AdtgWriter::addRow(const SelectedRows& rows)
{
    return addRowOf(rows.columnCount(), [&](size_t i) { return rows.value(static_cast<int>(i)); });
}

namespace {

bool isNullValue(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

bool isNullValue(const ValueView& v)
{
    return v.isNull();
}

} // namespace

template <typename ValueAt> bool AdtgWriter::addRowOf(qsizetype count, ValueAt valueAt)
{
    if (!isValid())
        return false;
    if (count != static_cast<qsizetype>(m_columns.size())) {
        m_error =
            QStringLiteral("row %1 has %2 values for %3 columns").arg(m_rowCount + 1).arg(count).arg(m_columns.size());
        return false;
    }
    // Presence map: one bit per nullable column, most significant first, unused bits set.
    int nullableCount = 0;
    for (const AdtgColumn& c : m_columns)
        nullableCount += c.nullable() ? 1 : 0;
    // Encoded straight onto the rows written so far; a value that fails takes its row back out.
    const qsizetype start = m_rows.size();
    QByteArray& row = m_rows;
    putU8(&row, 0x07);
    const qsizetype mapAt = row.size();
    row.append((nullableCount + 7) / 8, '\xFF');
    int k = 0;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const AdtgColumn& c = m_columns[i];
        const auto& v = valueAt(i);
        const bool isNull = isNullValue(v);
        if (c.nullable()) {
            if (isNull)
                row[mapAt + k / 8] = static_cast<char>(row[mapAt + k / 8] & ~(0x80 >> (k % 8)));
            ++k;
            if (isNull)
                continue;
        } else if (isNull) {
            m_error = QStringLiteral("row %1, column %2: NULL in a column that does not allow it")
                          .arg(m_rowCount + 1)
                          .arg(c.name);
            m_rows.truncate(start);
            return false;
        }
        if (!encodeValue(c, v, &row)) {
            m_rows.truncate(start);
            return false;
        }
    }
    ++m_rowCount;
    return true;
}

QByteArray AdtgWriter::toBytes() const
{
    QByteArray out = headerBytes();
    out.reserve(out.size() + m_rows.size() + 1);
    out.append(m_rows);
    putU8(&out, 0x0F);
    return out;
}

QByteArray AdtgWriter::headerBytes() const
{
    QByteArray out;
    putHex(&out, kHeader);
    putHex(&out, kHandlerOptions);

    QByteArray result;
    putHex(&result, kDescriptorGuid);
    putHex(&result, "000000");
    putLe<quint16>(&result, static_cast<quint16>(m_columns.size())); // visible
    putLe<quint16>(&result, static_cast<quint16>(m_columns.size())); // total
    putLe<quint16>(&result, 0);                                      // computed
    putLe<quint16>(&result, 0);                                      // tables
    putLe<quint16>(&result, 0);                                      // order-by
    putLe<quint32>(&result, static_cast<quint32>(m_rowCount));
    putHex(&result, kResultProperties);
    putElement(&out, 0x03, result);
    putHex(&out, kContext);

    quint16 ordinal = 0;
    for (const AdtgColumn& c : m_columns) {
        QByteArray body;
        putHex(&body, "800100"); // name and auto-increment present
        putLe<quint16>(&body, ++ordinal);
        putName(&body, c.name);
        putLe<quint16>(&body, c.wireType);
        putLe<quint32>(&body, c.maxLength);
        putLe<quint32>(&body, c.precision);
        putLe<qint32>(&body, c.scale);
        putLe<quint32>(&body, c.flags);
        putLe<quint16>(&body, c.autoIncrement ? 0xFFFF : 0);
        putLe<quint16>(&body, 0xFFFF); // visible
        putElement(&out, 0x06, body);
    }
    return out;
}

bool AdtgWriter::save(const QString& path, const std::function<void()>& pump)
{
    if (!isValid())
        return false;
    QSaveFile file(path);
    if (!OpenOwnerOnly(file)) { // a month's rows: personal data
        m_error = QStringLiteral("%1: cannot create: %2").arg(path, file.errorString());
        return false;
    }
    // The rows are written from where they are, not copied behind the header first.
    const QByteArray header = headerBytes();
    bool written = file.write(header) == header.size() && file.write(m_rows) == m_rows.size() &&
                   file.write("\x0F", 1) == 1 && file.flush();
    if (written && pump) {
        // commit() syncs before it renames; done here first, beside the events, it finds nothing
        // left to write. A failure is reported by commit()'s own sync.
        const int fd = static_cast<int>(file.handle());
        (void)RunBesideEvents([fd] { return fd >= 0 && ::fdatasync(fd) == 0; }, pump);
    }
    if (!written || !file.commit()) {
        m_error = QStringLiteral("%1: cannot write: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

// ---- from a database

struct TableColumnsCache::Entries
{
    std::map<QString, std::vector<TableColumnInfo>> columns; // by connection name and table
};

namespace {
// The entries of the outermost cache alive on this thread; an inner one leaves them in place.
thread_local TableColumnsCache::Entries* t_columnsEntries = nullptr;
} // namespace

TableColumnsCache::TableColumnsCache() : m_entries(std::make_unique<Entries>())
{
    if (!t_columnsEntries)
        t_columnsEntries = m_entries.get();
}

TableColumnsCache::~TableColumnsCache()
{
    if (t_columnsEntries == m_entries.get())
        t_columnsEntries = nullptr;
}

static bool readTableColumns(const QSqlDatabase& db, const QString& table, std::vector<TableColumnInfo>* columns,
                             QString* error);

bool lookupTableColumns(const QSqlDatabase& db, const QString& table, std::vector<TableColumnInfo>* columns,
                        QString* error)
{
    if (!t_columnsEntries)
        return readTableColumns(db, table, columns, error);
    const QString key = db.connectionName() + QLatin1Char('\n') + table;
    const auto known = t_columnsEntries->columns.find(key);
    if (known != t_columnsEntries->columns.end()) {
        *columns = known->second;
        return true;
    }
    if (!readTableColumns(db, table, columns, error))
        return false;
    t_columnsEntries->columns.emplace(key, *columns);
    return true;
}

static bool readTableColumns(const QSqlDatabase& db, const QString& table, std::vector<TableColumnInfo>* columns,
                             QString* error)
{
    columns->clear();
    const QString driver = db.driverName();
    QSqlQuery q(db);
    bool ok = false;
    if (driver.startsWith(QLatin1String("QSQLITE"))) {
        QString quoted = table;
        quoted.replace(QLatin1Char('\''), QLatin1String("''"));
        ok = q.exec(QStringLiteral("PRAGMA table_info('%1')").arg(quoted));
        while (ok && q.next())
            columns->push_back({q.value(1).toString(), q.value(2).toString(), q.value(3).toInt() == 0});
    } else if (driver.startsWith(QLatin1String("QMYSQL")) || driver.startsWith(QLatin1String("QMARIADB"))) {
        ok = q.prepare(QStringLiteral("SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE FROM information_schema.COLUMNS "
                                      "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? ORDER BY ORDINAL_POSITION"));
        q.addBindValue(table);
        ok = ok && q.exec();
        while (ok && q.next())
            columns->push_back({q.value(0).toString(), q.value(1).toString(),
                                q.value(2).toString().compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0});
    } else {
        if (error)
            *error = QStringLiteral("table %1: schema of driver %2 not supported").arg(table, driver);
        return false;
    }
    if (!ok) {
        if (error)
            *error = QStringLiteral("table %1: cannot read the schema: %2").arg(table, q.lastError().text());
        return false;
    }
    if (columns->empty()) {
        if (error)
            *error = QStringLiteral("table %1: not found in the database").arg(table);
        return false;
    }
    return true;
}

AdtgColumn columnForDeclaredType(const QString& name, const QString& declaredType, bool nullable)
{
    // The type name is one or more words ("INTEGER", "DOUBLE PRECISION"), then an optional size,
    // then modifiers such as "UNSIGNED"; the words are taken whole.
    static const QRegularExpression re(
        QStringLiteral(
            R"(^\s*([A-Za-z]+(?:\s+(?!unsigned\b|signed\b|zerofill\b)[A-Za-z]+)*)\s*(?:\(\s*(\d+)\s*(?:,\s*(\d+)\s*)?\))?\s*(.*)$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(declaredType);
    const QString base = m.hasMatch() ? m.captured(1).toLower() : QString();
    const quint32 n1 = m.captured(2).toUInt();
    const bool hasSize = !m.captured(2).isEmpty();
    const quint32 n2 = m.captured(3).toUInt();
    const bool isUnsigned = m.captured(4).contains(QLatin1String("unsigned"), Qt::CaseInsensitive);
    AdtgColumn undecided;
    undecided.name = name;
    auto make = [&](int ado, quint32 length = 0, quint32 precision = 0, qint32 scale = 0) {
        return AdtgColumn::fromAdoType(name, ado, length, nullable, precision, scale);
    };

    if (base.isEmpty())
        return undecided;
    if (base == QLatin1String("decimal") || base == QLatin1String("numeric") || base == QLatin1String("dec")) {
        if (!hasSize)
            return make(adDouble);
        return make(adNumeric, 0, qMin<quint32>(n1, 38), static_cast<qint32>(qMin<quint32>(n2, 38)));
    }
    if (base.contains(QLatin1String("money")) || base == QLatin1String("currency"))
        return make(adCurrency);
    if (base == QLatin1String("bool") || base == QLatin1String("boolean") || (base == QLatin1String("bit") && n1 <= 1))
        return make(adBoolean);
    if (base.contains(QLatin1String("int"))) {
        if (base.contains(QLatin1String("big")))
            return make(isUnsigned ? adUnsignedBigInt : adBigInt);
        if (base.contains(QLatin1String("small")))
            return make(isUnsigned ? adUnsignedSmallInt : adSmallInt);
        if (base.contains(QLatin1String("tiny")))
            return make(isUnsigned ? adUnsignedTinyInt : adTinyInt);
        return make(isUnsigned ? adUnsignedInt : adInteger);
    }
    if (base == QLatin1String("float") && !hasSize)
        return make(adSingle);
    if (base.contains(QLatin1String("real")) || base.contains(QLatin1String("floa")) ||
        base.contains(QLatin1String("doub")))
        return make(adDouble);
    if (base == QLatin1String("time"))
        return make(adDBTime);
    if (base.contains(QLatin1String("date")) || base.contains(QLatin1String("time")))
        return make(adDate);
    if (base.contains(QLatin1String("blob")) || base.contains(QLatin1String("binary")))
        return hasSize && base.contains(QLatin1String("var")) ? make(adVarBinary, n1) : make(adLongVarBinary);
    if (base.contains(QLatin1String("char")) || base.contains(QLatin1String("text")) ||
        base.contains(QLatin1String("clob"))) {
        // Fixed-length text would come back padded; keep values as they are.
        return hasSize && !base.contains(QLatin1String("text")) ? make(adVarWChar, n1) : make(adLongVarWChar);
    }
    return undecided;
}

namespace {

// A month of a large agent is tens of thousands of rows: a few hundred rows take a few
// milliseconds, often enough for a progress window to stay responsive.
constexpr int kPumpRows = 256;

// Calls `pump` every kPumpRows calls.
class RowPump
{
public:
    explicit RowPump(const std::function<void()>& pump) : m_pump(pump) {}
    void operator()()
    {
        if (m_pump && ++m_rows == kPumpRows) {
            m_rows = 0;
            m_pump();
        }
    }

private:
    const std::function<void()>& m_pump;
    int m_rows = 0;
};

// The columns of a result, typed from the declared schema of `baseTable` (none when it is empty);
// a column the schema lacks stays undecided (wireType 0).
bool declaredColumns(const QStringList& names, const QSqlDatabase& db, const QString& baseTable,
                     std::vector<AdtgColumn>* columns, QString* error)
{
    std::vector<TableColumnInfo> schema;
    if (!baseTable.isEmpty() && !lookupTableColumns(db, baseTable, &schema, error))
        return false;
    columns->assign(size_t(names.size()), AdtgColumn());
    for (qsizetype i = 0; i < names.size(); ++i) {
        AdtgColumn& column = (*columns)[size_t(i)];
        column.name = names[i];
        for (const TableColumnInfo& info : schema) {
            if (info.name.compare(names[i], Qt::CaseInsensitive) == 0) {
                column = columnForDeclaredType(names[i], info.declaredType, info.nullable);
                break;
            }
        }
    }
    return true;
}

} // namespace

// What a pass over the rows learns about the columns: NULLs, value types and the longest texts.
struct ColumnFacts
{
    explicit ColumnFacts(const std::vector<AdtgColumn>& columns)
        : sawNull(columns.size(), false), longest(columns.size(), 0), valueType(columns.size(), QMetaType::UnknownType),
          measure(columns.size())
    {
        // Only texts (and columns whose type is still to be decided) need their lengths.
        for (size_t i = 0; i < columns.size(); ++i)
            measure[i] = columns[i].wireType == 0 || isText(columns[i].wireType);
    }
    void noteType(size_t i, int type)
    {
        if (valueType[i] == QMetaType::UnknownType || valueType[i] == QMetaType::LongLong ||
            valueType[i] == QMetaType::Int)
            valueType[i] = type;
    }
    void noteLength(size_t i, qsizetype length)
    {
        longest[i] = qMax<quint32>(longest[i], static_cast<quint32>(qMin<qsizetype>(length, 0x7FFFFFFF)));
    }

    std::vector<bool> sawNull;
    std::vector<quint32> longest;
    std::vector<int> valueType;
    std::vector<bool> measure;
};

namespace {

// The columns as written: undecided ones by their values, nullable where a NULL was seen, and texts
// widened to their longest value, so that no value is ever cut.
std::vector<AdtgColumn> finalColumns(std::vector<AdtgColumn> columns, const ColumnFacts& facts)
{
    for (size_t i = 0; i < columns.size(); ++i) {
        AdtgColumn& c = columns[i];
        if (c.wireType == 0) {
            // No declared type: decide from the values the driver returned.
            const bool nullable = true;
            switch (facts.valueType[i]) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::UInt:
            case QMetaType::ULongLong:
                c = AdtgColumn::fromAdoType(c.name, adBigInt, 0, nullable);
                break;
            case QMetaType::Double:
                c = AdtgColumn::fromAdoType(c.name, adDouble, 0, nullable);
                break;
            case QMetaType::QByteArray:
                c = AdtgColumn::fromAdoType(c.name, adLongVarBinary, 0, nullable);
                break;
            case QMetaType::QDate:
            case QMetaType::QDateTime:
                c = AdtgColumn::fromAdoType(c.name, adDate, 0, nullable);
                break;
            default:
                c = AdtgColumn::fromAdoType(c.name, adLongVarWChar, 0, nullable);
                break;
            }
        }
        if (facts.sawNull[i])
            c.flags |= FlagIsNullable;
        // Databases that do not enforce declared lengths may hold longer texts: widen the column
        // rather than cut a value.
        if (isText(c.wireType) && c.maxLength != kUnlimitedLength && facts.longest[i] > c.maxLength)
            c.maxLength = facts.longest[i];
        if (isText(c.wireType) && c.maxLength == 0)
            c.maxLength = qMax<quint32>(facts.longest[i], 1);
    }
    return columns;
}

bool sameColumns(const std::vector<AdtgColumn>& a, const std::vector<AdtgColumn>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const AdtgColumn& x, const AdtgColumn& y) {
        return x.name == y.name && x.wireType == y.wireType && x.maxLength == y.maxLength &&
               x.precision == y.precision && x.scale == y.scale && x.flags == y.flags &&
               x.autoIncrement == y.autoIncrement;
    });
}

int variantType(ValueView::Kind kind)
{
    switch (kind) {
    case ValueView::Kind::Integer:
        return QMetaType::LongLong;
    case ValueView::Kind::Real:
        return QMetaType::Double;
    case ValueView::Kind::Bytes:
        return QMetaType::QByteArray;
    default:
        return QMetaType::QString;
    }
}

} // namespace

// ---- from a selection read in place

RecordsetFromRows::RecordsetFromRows() = default;
RecordsetFromRows::~RecordsetFromRows() = default;

bool RecordsetFromRows::start(const SelectedRows& rows, const QSqlDatabase& db, const QString& baseTable,
                              const QString& path, QString* error)
{
    m_path = path;
    m_table = baseTable;
    QStringList names;
    for (int i = 0; i < rows.columnCount(); ++i)
        names << rows.columnName(i);
    QString schemaError;
    if (!declaredColumns(names, db, baseTable, &m_declared, &schemaError))
        return fail(schemaError, error);
    m_facts = std::make_unique<ColumnFacts>(m_declared);
    // Rows are encoded as they come, for the columns the schema declares; should a value not fit
    // them (a NULL the schema forbids, a longer text), the file is encoded once more at the end.
    m_provisional = finalColumns(m_declared, ColumnFacts(m_declared));
    bool decided = true;
    for (const AdtgColumn& c : m_declared)
        decided = decided && c.wireType != 0;
    if (decided)
        m_writer = std::make_unique<AdtgWriter>(m_provisional);
    return true;
}

void RecordsetFromRows::add(const SelectedRows& rows)
{
    ColumnFacts& facts = *m_facts;
    for (size_t i = 0; i < m_declared.size(); ++i) {
        const ValueView v = rows.value(int(i));
        if (v.isNull()) {
            facts.sawNull[i] = true;
            continue;
        }
        if (!facts.measure[i])
            continue;
        facts.noteType(i, variantType(v.kind));
        switch (v.kind) {
        case ValueView::Kind::Utf16:
        case ValueView::Kind::Bytes:
            facts.noteLength(i, v.size);
            break;
        case ValueView::Kind::Utf8: {
            m_scratch.resize(size_t(v.size) + 1);
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QChar* end = decoder.appendToBuffer(reinterpret_cast<QChar*>(m_scratch.data()), v.bytes());
            facts.noteLength(i, end - reinterpret_cast<const QChar*>(m_scratch.data()));
            break;
        }
        default:
            facts.noteLength(i, v.toVariant().toString().size());
            break;
        }
    }
    if (m_writer && m_encodeError.isEmpty() && !m_writer->addRow(rows))
        m_encodeError = m_writer->errorString();
}

bool RecordsetFromRows::save(SelectedRows& rows, QString* error, const std::function<void()>& pump)
{
    const std::unique_ptr<AdtgWriter> writer = finish(rows, error, pump);
    if (!writer)
        return false;
    if (!writer->save(m_path, pump))
        return fail(writer->errorString(), error);
    return true;
}

std::unique_ptr<AdtgWriter> RecordsetFromRows::finish(SelectedRows& rows, QString* error,
                                                      const std::function<void()>& pump)
{
    if (!rows.errorString().isEmpty()) {
        fail(QStringLiteral("reading the rows: %1").arg(rows.errorString()), error);
        return nullptr;
    }
    std::vector<AdtgColumn> columns = finalColumns(m_declared, *m_facts);
    if (!m_writer || !sameColumns(columns, m_provisional)) {
        // The values asked for other columns than the schema's: the rows once more, for these.
        m_writer = std::make_unique<AdtgWriter>(std::move(columns));
        if (!m_writer->isValid()) {
            fail(m_writer->errorString(), error);
            return nullptr;
        }
        m_encodeError.clear();
        RowPump maybePump(pump);
        for (bool there = rows.first(); there; there = rows.next()) {
            maybePump();
            if (!m_writer->addRow(rows)) {
                fail(m_writer->errorString(), error);
                return nullptr;
            }
        }
        if (!rows.errorString().isEmpty()) {
            fail(QStringLiteral("reading the rows: %1").arg(rows.errorString()), error);
            return nullptr;
        }
    }
    if (!m_writer->isValid() || !m_encodeError.isEmpty()) {
        fail(m_writer->isValid() ? m_encodeError : m_writer->errorString(), error);
        return nullptr;
    }
    return std::move(m_writer);
}

bool RecordsetFromRows::fail(const QString& message, QString* error) const
{
    if (error)
        *error = DataFileError(m_path, m_table, message);
    return false;
}

QString DataFileError(const QString& path, const QString& table, const QString& message)
{
    return QStringLiteral("data file %1: table %2: %3").arg(path, table, message);
}

bool SaveRecordsetAdtg(SelectedRows& rows, const QSqlDatabase& db, const QString& baseTable, const QString& path,
                       QString* error, const std::function<void()>& pump)
{
    RecordsetFromRows recordset;
    if (!recordset.start(rows, db, baseTable, path, error))
        return false;
    RowPump maybePump(pump);
    for (bool there = rows.first(); there; there = rows.next()) {
        maybePump();
        recordset.add(rows);
    }
    return recordset.save(rows, error, pump);
}

// ---- from a query

bool SaveRecordsetAdtg(QSqlQuery& query, const QSqlDatabase& db, const QString& baseTable, const QString& path,
                       QString* error, const std::function<void()>& pump)
{
    RowPump maybePump(pump);
    auto failWith = [&](const QString& message) {
        if (error)
            *error = QStringLiteral("data file %1: table %2: %3").arg(path, baseTable, message);
        return false;
    };
    if (!query.isActive() || !query.isSelect())
        return failWith(QStringLiteral("no open result to save"));

    const QSqlRecord record = query.record();
    const int count = record.count();
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << record.fieldName(i);
    std::vector<AdtgColumn> columns;
    QString schemaError;
    if (!declaredColumns(names, db, baseTable, &columns, &schemaError))
        return failWith(schemaError);

    // The server's own text when every column has a declared type to read it by (see MysqlTextRows).
    const bool keepRows = query.isForwardOnly();
    bool declared = true;
    for (const AdtgColumn& c : columns)
        declared = declared && c.wireType != 0;
    if (declared && !keepRows) {
        if (const std::unique_ptr<MysqlTextRows> raw = MysqlTextRows::attach(query))
            return SaveRecordsetAdtg(*raw, db, baseTable, path, error, pump);
    }

    // First pass over the result: note NULLs, value types and the longest texts. A scrollable
    // result is read a second time for writing; a forward-only one keeps its values here.
    std::vector<QVariantList> rows;
    ColumnFacts facts(columns);
    bool more = query.at() == QSql::BeforeFirstRow ? query.next() : query.first();
    for (; more; more = query.next()) {
        maybePump();
        QVariantList row;
        if (keepRows)
            row.reserve(count);
        for (int i = 0; i < count; ++i) {
            // A column of a declared non-text type only needs its NULLs noted here; asking the
            // driver for the value would convert it once more than the writing pass does.
            if (!keepRows && !facts.measure[size_t(i)]) {
                if (query.isNull(i))
                    facts.sawNull[size_t(i)] = true;
                continue;
            }
            QVariant v = query.value(i);
            if (v.isNull()) {
                facts.sawNull[size_t(i)] = true;
                v = QVariant();
            } else {
                facts.noteType(size_t(i), v.typeId());
                if (facts.measure[size_t(i)])
                    facts.noteLength(size_t(i), v.typeId() == QMetaType::QByteArray ? v.toByteArray().size()
                                                                                    : v.toString().size());
            }
            if (keepRows)
                row.append(v);
        }
        if (keepRows)
            rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        return failWith(QStringLiteral("reading the rows: %1").arg(query.lastError().text()));

    AdtgWriter writer(finalColumns(std::move(columns), facts));
    if (!writer.isValid())
        return failWith(writer.errorString());
    if (keepRows) {
        for (const QVariantList& row : rows) {
            maybePump();
            if (!writer.addRow(row))
                return failWith(writer.errorString());
        }
    } else {
        QVariantList row;
        row.reserve(count);
        for (more = query.first(); more; more = query.next()) {
            maybePump();
            row.clear();
            for (int i = 0; i < count; ++i) {
                const QVariant v = query.value(i);
                row.append(v.isNull() ? QVariant() : v);
            }
            if (!writer.addRow(row))
                return failWith(writer.errorString());
        }
        if (query.lastError().isValid())
            return failWith(QStringLiteral("reading the rows: %1").arg(query.lastError().text()));
    }
    if (!writer.save(path, pump))
        return failWith(writer.errorString());
    return true;
}

} // namespace sjql::adtg
