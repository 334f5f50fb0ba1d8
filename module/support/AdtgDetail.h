// SPDX-License-Identifier: MIT
// Number and date conversions shared by the ADTG reader and writer. Internal to support/.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <cstdint>

namespace sjql::adtg::detail {

__extension__ typedef unsigned __int128 Magnitude;

// "-123.4500" style text of sign x magnitude x 10^-scale, trailing fraction zeros removed,
// at least one digit before the point, no exponent.
QString formatScaled(Magnitude magnitude, int scale, bool negative);

// Parses a plain decimal text ("-12.5", ".25", "+3", "1e3" is refused) into magnitude and sign
// at exactly `scale` decimals. False when the text is not a number, has more decimals than
// `scale` allows (except zeros) or overflows `limit`.
bool parseScaled(QStringView text, int scale, Magnitude limit, Magnitude* magnitude, bool* negative);

// The decimal at `scale` places (0..38) that a binary floating-point amount stands for: the
// nearest one, taken when the value lies within a relative 1e-12 of it, or within 1e-12 of one unit
// of the last place for values smaller than that unit. So the noise of arithmetic on amounts
// (2469.1200000000003, or 5.6e-17 for a difference that is zero) reads as the decimal it stands
// for, and a value with more decimals (1.23456789 at 2 places) is refused. False also for values
// that are not finite or whose magnitude at `scale` places needs more than 127 bits.
bool decimalOfDouble(double value, int scale, Magnitude* magnitude, bool* negative);

// 10^digits for digits 0..38.
Magnitude powerOfTen(int digits);

// OLE automation date (days since 1899-12-30, the fraction the time of day counted forward
// from midnight also for negative days) and back. Times are kept to the millisecond.
QDateTime fromOleDate(double value);
double toOleDate(const QDateTime& dateTime);
// The date part of fromOleDate(value) alone, without building the date-time; invalid where that is.
QDate fromOleDay(double value);

// FILETIME: 100 ns ticks since 1601-01-01 00:00, no time-zone shift.
QDateTime fromFileTime(std::uint64_t ticks);
bool toFileTime(const QDateTime& dateTime, std::uint64_t* ticks);

// Lenient date-time parsing for values coming from a database as text:
// "yyyy-MM-dd", "yyyy-MM-dd hh:mm:ss[.zzz]", ISO 8601 with "T".
QDateTime parseDateTimeText(const QString& text);

// A Boolean from a database value: a number (non-zero is true), "true" or "false" in any case
// (blanks around ignored), or the variant's own Boolean. False when a text is none of these.
bool booleanOfValue(const QVariant& value, bool* result);

// The two plain forms "yyyy-MM-dd" and "yyyy-MM-dd hh:mm:ss" (blanks around allowed), read
// without building a date-time object: the day and the milliseconds of the day, as
// parseDateTimeText() reads them. False for every other text, which goes the general way.
bool parsePlainDateText(QStringView text, QDate* date, int* msecs);

// Date and time parts of a value without any time-zone conversion.
QDateTime plainDateTime(const QDate& date, const QTime& time);

} // namespace sjql::adtg::detail
