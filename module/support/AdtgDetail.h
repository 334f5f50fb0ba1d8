// SPDX-License-Identifier: MIT
// Number and date conversions shared by the ADTG reader and writer. Internal to support/.
#pragma once

#include <QDateTime>
#include <QString>

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

// OLE automation date (days since 1899-12-30, the fraction the time of day counted forward
// from midnight also for negative days) and back. Times are kept to the millisecond.
QDateTime fromOleDate(double value);
double toOleDate(const QDateTime& dateTime);

// FILETIME: 100 ns ticks since 1601-01-01 00:00, no time-zone shift.
QDateTime fromFileTime(std::uint64_t ticks);
bool toFileTime(const QDateTime& dateTime, std::uint64_t* ticks);

// Lenient date-time parsing for values coming from a database as text:
// "yyyy-MM-dd", "yyyy-MM-dd hh:mm:ss[.zzz]", ISO 8601 with "T".
QDateTime parseDateTimeText(const QString& text);

// Date and time parts of a value without any time-zone conversion.
QDateTime plainDateTime(const QDate& date, const QTime& time);

} // namespace sjql::adtg::detail
