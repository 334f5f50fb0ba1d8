// SPDX-License-Identifier: MIT
#include "support/AdtgTypes.h"

#include "support/AdtgDetail.h"

#include <cmath>

namespace sjql::adtg {

int fixedWireSize(std::uint16_t wireType)
{
    switch (wireType) {
    case 0x10:
    case 0x11:
        return 1;
    case 0x02:
    case 0x0B:
    case 0x12:
        return 2;
    case 0x03:
    case 0x04:
    case 0x13:
        return 4;
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x14:
    case 0x15:
    case 0x40:
        return 8;
    case 0x85:
    case 0x86:
        return 6;
    case 0x0E:
    case 0x48:
    case 0x87:
        return 16;
    case 0x83:
        return 19;
    case 0x08:
    case kWireBytes:
    case kWireStr:
    case kWireWStr:
    case kWireVarNumeric:
        return 0;
    default:
        return -1;
    }
}

int AdtgColumn::adoType() const
{
    switch (wireType) {
    case kWireBytes:
        return fixedLength() ? adBinary : (flags & FlagIsLong) ? adLongVarBinary : adVarBinary;
    case kWireStr:
        return fixedLength() ? adChar : (flags & FlagIsLong) ? adLongVarChar : adVarChar;
    case kWireWStr:
    case 0x08:
        return fixedLength() ? adWChar : (flags & FlagIsLong) ? adLongVarWChar : adVarWChar;
    default:
        return wireType;
    }
}

std::uint64_t AdtgColumn::maxBytes() const
{
    if (maxLength == kUnlimitedLength)
        return kUnlimitedLength;
    if (wireType == kWireWStr || wireType == 0x08)
        return std::uint64_t(maxLength) * 2;
    return maxLength;
}

namespace {

// How the text and binary kinds are stored: wire type and length rule.
enum class Sizing
{
    Variable,
    Fixed,
    Long,
    Unlimited
};

struct SizedKind
{
    int type;
    std::uint16_t wireType;
    Sizing sizing;
};

constexpr SizedKind kSizedKinds[] = {
    {adVarWChar, kWireWStr, Sizing::Variable}, {adVarChar, kWireStr, Sizing::Variable},
    {adWChar, kWireWStr, Sizing::Fixed},       {adChar, kWireStr, Sizing::Fixed},
    {adBSTR, kWireWStr, Sizing::Unlimited},    {adLongVarWChar, kWireWStr, Sizing::Long},
    {adLongVarChar, kWireStr, Sizing::Long},   {adVarBinary, kWireBytes, Sizing::Variable},
    {adBinary, kWireBytes, Sizing::Fixed},     {adLongVarBinary, kWireBytes, Sizing::Long},
};

} // namespace

AdtgColumn AdtgColumn::fromAdoType(const QString& name, int type, std::uint32_t maxLength, bool nullable,
                                   std::uint32_t precision, std::int32_t scale)
{
    AdtgColumn c;
    c.name = name;
    // Fixed-size kinds are writable, fixed-length, and nullable when asked.
    const std::uint32_t fixedFlags = FlagWrite | FlagFixedLength | (nullable ? FlagIsNullable : 0);
    const std::uint32_t varFlags = FlagWrite | (nullable ? FlagIsNullable : 0);
    switch (type) {
    case adSmallInt:
    case adInteger:
    case adSingle:
    case adDouble:
    case adCurrency:
    case adDate:
    case adBoolean:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adUnsignedSmallInt:
    case adUnsignedInt:
    case adBigInt:
    case adUnsignedBigInt:
    case adFileTime:
    case adGUID:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
        c.wireType = static_cast<std::uint16_t>(type);
        c.maxLength = static_cast<std::uint32_t>(fixedWireSize(c.wireType));
        c.flags = fixedFlags;
        return c;
    case adDecimal:
    case adNumeric:
        c.wireType = static_cast<std::uint16_t>(type);
        c.maxLength = type == adDecimal ? 16 : 19;
        c.precision = precision;
        c.scale = scale;
        c.flags = fixedFlags;
        return c;
    default:
        break;
    }
    c.wireType = 0; // not writable, unless a text or binary kind
    for (const SizedKind& kind : kSizedKinds) {
        if (kind.type != type)
            continue;
        c.wireType = kind.wireType;
        switch (kind.sizing) {
        case Sizing::Variable:
            c.maxLength = maxLength;
            c.flags = varFlags;
            break;
        case Sizing::Fixed:
            c.maxLength = maxLength;
            c.flags = fixedFlags;
            break;
        case Sizing::Long: // no length limit unless the source gives one
            c.maxLength = maxLength ? maxLength : kUnlimitedLength;
            c.flags = varFlags | FlagIsLong;
            break;
        case Sizing::Unlimited:
            c.maxLength = kUnlimitedLength;
            c.flags = varFlags | FlagIsLong;
            break;
        }
    }
    return c;
}

namespace detail {

QString formatScaled(Magnitude magnitude, int scale, bool negative)
{
    char digits[64];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0 && n < 60);
    while (n <= scale && n < 60)
        digits[n++] = '0';
    // digits holds the number reversed; the lowest `scale` of them are the fraction.
    int cut = 0;
    while (cut < scale && digits[cut] == '0')
        ++cut;
    QString out;
    out.reserve(n + 2);
    bool zero = true;
    for (int i = n - 1; i >= cut; --i) {
        if (digits[i] != '0')
            zero = false;
    }
    if (negative && !zero)
        out += QLatin1Char('-');
    for (int i = n - 1; i >= scale; --i)
        out += QLatin1Char(digits[i]);
    if (cut < scale) {
        out += QLatin1Char('.');
        for (int i = scale - 1; i >= cut; --i)
            out += QLatin1Char(digits[i]);
    }
    return out;
}

bool parseScaled(QStringView text, int scale, Magnitude limit, Magnitude* magnitude, bool* negative)
{
    text = text.trimmed();
    bool neg = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('-') || text.front() == QLatin1Char('+'))) {
        neg = text.front() == QLatin1Char('-');
        text = text.mid(1);
    }
    Magnitude value = 0;
    int decimals = -1; // -1: before the point
    bool anyDigit = false;
    for (QChar ch : text) {
        if (ch == QLatin1Char('.')) {
            if (decimals >= 0)
                return false;
            decimals = 0;
            continue;
        }
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
        anyDigit = true;
        const int digit = ch.unicode() - '0';
        if (decimals >= 0) {
            if (decimals >= scale) {
                if (digit != 0)
                    return false; // more precision than the column holds
                continue;
            }
            ++decimals;
        }
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (!anyDigit)
        return false;
    for (int i = decimals < 0 ? 0 : decimals; i < scale; ++i) {
        if (value > limit / 10)
            return false;
        value *= 10;
    }
    *magnitude = value;
    *negative = neg && value != 0;
    return true;
}

static const QDate kOleEpoch(1899, 12, 30);
static constexpr qint64 kMsPerDay = 86400000;

QDateTime plainDateTime(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

// The day and the milliseconds into it of an OLE automation date; false where fromOleDate gives
// no date.
static bool oleParts(double value, qint64* days, qint64* ms)
{
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return false;
    const double whole = std::trunc(value);
    *days = static_cast<qint64>(whole);
    *ms = std::llround(std::fabs(value - whole) * kMsPerDay);
    if (*ms >= kMsPerDay) {
        // Rounding reached the next midnight.
        *ms -= kMsPerDay;
        *days += value < 0 ? -1 : 1;
    }
    return true;
}

QDateTime fromOleDate(double value)
{
    qint64 days = 0, ms = 0;
    if (!oleParts(value, &days, &ms))
        return QDateTime();
    return plainDateTime(kOleEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QDate fromOleDay(double value)
{
    qint64 days = 0, ms = 0;
    return oleParts(value, &days, &ms) ? kOleEpoch.addDays(days) : QDate();
}

double toOleDate(const QDateTime& dateTime)
{
    const qint64 days = kOleEpoch.daysTo(dateTime.date());
    const QTime t = dateTime.time();
    const double fraction = (t.hour() * 3600.0 + t.minute() * 60.0 + t.second() + t.msec() / 1000.0) / 86400.0;
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

static const QDate kFileTimeEpoch(1601, 1, 1);

QDateTime fromFileTime(std::uint64_t ticks)
{
    const std::uint64_t ms = ticks / 10000;
    const qint64 days = static_cast<qint64>(ms / kMsPerDay);
    return plainDateTime(kFileTimeEpoch.addDays(days),
                         QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms % kMsPerDay)));
}

bool toFileTime(const QDateTime& dateTime, std::uint64_t* ticks)
{
    const qint64 days = kFileTimeEpoch.daysTo(dateTime.date());
    if (days < 0)
        return false;
    *ticks = (static_cast<std::uint64_t>(days) * kMsPerDay + dateTime.time().msecsSinceStartOfDay()) * 10000;
    return true;
}

bool booleanOfValue(const QVariant& value, bool* result)
{
    if (value.typeId() != QMetaType::QString) {
        *result = value.toBool();
        return true;
    }
    const QString s = value.toString().trimmed();
    bool ok = false;
    const qint64 n = s.toLongLong(&ok);
    if (ok)
        *result = n != 0;
    else if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        *result = true;
    else if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        *result = false;
    else
        return false;
    return true;
}

bool parsePlainDateText(QStringView text, QDate* date, int* msecs)
{
    const QStringView t = text.trimmed();
    const bool shortForm = t.size() == 10;
    const bool longForm = t.size() == 19 && t[10] == u' ' && t[13] == u':' && t[16] == u':';
    if (!(shortForm || longForm) || t[4] != u'-' || t[7] != u'-')
        return false;
    auto digits = [&](qsizetype at, int count, int* value) {
        int v = 0;
        for (int i = 0; i < count; ++i) {
            const char16_t ch = t[at + i].unicode();
            if (ch < u'0' || ch > u'9')
                return false;
            v = v * 10 + (ch - u'0');
        }
        *value = v;
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!digits(0, 4, &y) || !digits(5, 2, &mo) || !digits(8, 2, &d))
        return false;
    if (longForm && (!digits(11, 2, &h) || !digits(14, 2, &mi) || !digits(17, 2, &s) || h > 23 || mi > 59 || s > 59))
        return false;
    const QDate day(y, mo, d);
    if (!day.isValid())
        return false;
    *date = day;
    *msecs = ((h * 60 + mi) * 60 + s) * 1000;
    return true;
}

QDateTime parseDateTimeText(const QString& text)
{
    QString t = text.trimmed();
    if (t.size() == 10) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        return d.isValid() ? plainDateTime(d, QTime(0, 0)) : QDateTime();
    }
    if (t.size() > 10 && t.at(10) == QLatin1Char(' '))
        t[10] = QLatin1Char('T');
    const QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid())
        return QDateTime();
    return plainDateTime(dt.date(), dt.time());
}

} // namespace detail
} // namespace sjql::adtg
