// SPDX-License-Identifier: MIT
#include "cleanup/RowBuilders.h"

#include "db/RunQuery.h"
#include "support/AdtgReader.h"

#include <array>
#include <span>

namespace sjql {

namespace {

enum class Reading
{
    Text,
    Integer,
    Amount,
    Date,
};

struct Column
{
    const char* name;
    Reading reading;
};

// One table: the statement of the desktop kinds, the Oracle key column and the columns in the
// order of the template's placeholders.
struct Table
{
    const char* name; // as the statement writes it, for the Oracle key and sequence
    const char* keyColumn;
    const char* statement;
    std::span<const Column> columns;
};

constexpr Reading T = Reading::Text, I = Reading::Integer, A = Reading::Amount, D = Reading::Date;

constexpr std::array<Column, 32> kWageColumns{{
    {"KJYWRBM", T}, {"GH", T},     {"XM", T},    {"ZZLX", I},   {"ZZHM", T},   {"SDXM", T},    {"QSRQ", D},
    {"ZZRQ", D},    {"FFYF", T},   {"YFGZ", A},  {"YLBX", A},   {"YLOBX", A},  {"SYBX", A},    {"ZFGJJ", A},
    {"QTMSSD", A},  {"MSXMHJ", A}, {"BZSSD", A}, {"FYKCBZ", A}, {"SJJZE", A},  {"ZYKCJZE", A}, {"YNSSDE", A},
    {"SL", A},      {"SSKCS", A},  {"YNSE", A},  {"JMSE", A},   {"YSBSRE", A}, {"CBYNSE", A},  {"CBBZ", I},
    {"SJYNSE", A},  {"WYSBH", T},  {"GXBZ", I},  {"zcyf", T},
}};

constexpr std::array<Column, 28> kNonWageColumns{{
    {"KJYWRBM", T}, {"XM", T},   {"ZZLX", I},  {"ZZHM", T},   {"GZDW", T},   {"SDXM", T},   {"QSRQ", D},
    {"ZZRQ", D},    {"FFYF", T}, {"SRE", A},   {"YXKCSF", A}, {"FYKCBZ", A}, {"SJJZE", A},  {"ZYKCJZE", A},
    {"YNSSDE", A},  {"SL", A},   {"SSKCS", A}, {"YNSE", A},   {"JMSE", A},   {"SJYNSE", A}, {"XDSL", I},
    {"WYSBH", T},   {"GXBZ", I}, {"CBBZ", I},  {"ZCYF", T},   {"YSBSRE", A}, {"CBYNSE", A}, {"ZCID", I},
}};

constexpr std::array<Column, 29> kReportColumns{{
    {"KJYWRBM", T}, {"WYSBH", T},    {"NSRXM", T},  {"ZZLX", I},   {"ZZHM", T},  {"SDXM", T},
    {"FFYF", T},    {"ZZRQ", D},     {"QSRQ", D},   {"SRE", A},    {"YLBX", A},  {"YLOBX", A},
    {"SYBX", A},    {"ZFGJJ", A},    {"QTMSSD", A}, {"MSXMHJ", A}, {"BZSSD", A}, {"FYKCBZ", A},
    {"YXKCSY", A},  {"ZYKCDJZE", A}, {"YNSSDE", A}, {"SL", A},     {"SSKCS", A}, {"YNSE", A},
    {"JMSE", A},    {"SJYNSE", A},   {"BZ", T},     {"BS", I},     {"SFDY", I},
}};

// The statement texts are used exactly as they stand, blanks included: installations compare
// logged statements with them.
const Table kWage{
    "ZCGZXJMXB", "id",
    "insert into ZCGZXJMXB (KJYWRBM, GH, XM, ZZLX, ZZHM, SDXM, QSRQ, ZZRQ, FFYF, YFGZ, YLBX, YLOBX, SYBX, ZFGJJ, "
    "QTMSSD, MSXMHJ, BZSSD, FYKCBZ, SJJZE, ZYKCJZE, YNSSDE, SL, SSKCS, YNSE, JMSE, YSBSRE, CBYNSE, CBBZ, SJYNSE, "
    "WYSBH, GXBZ, zcyf) values('%s', '%s', '%s', %d, '%s', '%s', %s, %s, '%s', %16.2f, %16.2f, %16.2f, %16.2f, "
    "%16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, "
    "%16.2f, %d, %16.2f, '%s', %d, '%s')",
    kWageColumns};

const Table kNonWage{
    "fgzxjb", "ID",
    "insert into fgzxjb (KJYWRBM, XM, ZZLX, ZZHM, GZDW, SDXM, QSRQ, ZZRQ, FFYF, SRE, YXKCSF, FYKCBZ, SJJZE, "
    "ZYKCJZE, YNSSDE, SL, SSKCS, YNSE, JMSE, SJYNSE, XDSL, WYSBH, GXBZ, CBBZ, ZCYF, YSBSRE, CBYNSE, ZCID) "
    "values('%s', '%s', %d, '%s', '%s', '%s', %s, %s, '%s', %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, "
    "%10.4f, %16.2f, %16.2f, %16.2f, %16.2f, %d, '%s', %d, %d, '%s', %16.2f, %16.2f, %d)",
    kNonWageColumns};

const Table kReport{
    "KJSDSBGB", "id",
    "insert into KJSDSBGB (KJYWRBM,WYSBH,NSRXM,ZZLX,ZZHM,SDXM,FFYF,ZZRQ,QSRQ, SRE,YLBX,YLOBX,SYBX,ZFGJJ,QTMSSD,"
    "MSXMHJ,BZSSD,FYKCBZ, YXKCSY,ZYKCDJZE,YNSSDE,SL,SSKCS,YNSE,JMSE,SJYNSE,BZ,BS,SFDY) values('%s', '%s','%s', %d, "
    "'%s', '%s', '%s', %s , %s,  %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %10.4f, %16.2f, %16.2f, "
    "%16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f, %16.2f,'%s', %d, %d)",
    kReportColumns};

// An amount given in ten-thousandths, rounded half away from zero to `decimals` places and
// right-aligned in `width` characters, as "%*.*f" writes it. Working on the exact scaled value
// keeps 14-digit amounts to the cent, which a detour through double would not.
QString formatAmount(qint64 scaled, int width, int decimals)
{
    const bool negative = scaled < 0;
    quint64 magnitude = negative ? quint64(0) - quint64(scaled) : quint64(scaled);
    quint64 divisor = 1;
    for (int d = decimals; d < 4; ++d)
        divisor *= 10;
    magnitude = (magnitude + divisor / 2) / divisor;
    quint64 unit = 1;
    for (int d = 0; d < decimals; ++d)
        unit *= 10;
    QString text = QString::number(magnitude / unit);
    if (decimals > 0)
        text += QLatin1Char('.') + QString::number(magnitude % unit).rightJustified(decimals, QLatin1Char('0'));
    if (negative && magnitude != 0)
        text.prepend(QLatin1Char('-'));
    return text.rightJustified(width, QLatin1Char(' '));
}

// Reads "%16.2f" at `pos` (pointing at '%'): width and decimals; advances past the conversion.
bool parseAmountSpec(const QString& tpl, qsizetype& pos, int* width, int* decimals)
{
    qsizetype i = pos + 1;
    int w = 0, p = 0;
    while (i < tpl.size() && tpl.at(i).isDigit())
        w = w * 10 + tpl.at(i++).digitValue();
    if (i >= tpl.size() || tpl.at(i) != QLatin1Char('.'))
        return false;
    ++i;
    while (i < tpl.size() && tpl.at(i).isDigit())
        p = p * 10 + tpl.at(i++).digitValue();
    if (i >= tpl.size() || tpl.at(i) != QLatin1Char('f'))
        return false;
    pos = i + 1;
    *width = w;
    *decimals = p;
    return true;
}

bool build(const Table& table, const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql, QString* error)
{
    sql.clear();
    auto failWith = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (rows.eof())
        return failWith(QStringLiteral("table %1: no current row to insert").arg(QLatin1String(table.name)));

    // Look every column up first, so that a data file missing one fails before any text is built.
    std::array<adtg::AdtgField, 32> fields;
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const QString name = QLatin1String(table.columns[c].name);
        fields[c] = rows.field(name);
        if (!fields[c].isValid())
            return failWith(QStringLiteral("table %1: column %2 is missing").arg(QLatin1String(table.name), name));
    }

    QString tpl = QLatin1String(table.statement);
    // MySQL on Linux compares table names case-sensitively; the non-wage statement's lower-case
    // name would miss the table there, so that kind gets the name as the table is created.
    if (kind == dbkMySQL)
        tpl.replace(QLatin1String("insert into fgzxjb "), QLatin1String("insert into FGZXJB "));
    if (kind == dbkOracle) {
        // The key column leads the column list and takes the table's sequence.
        const qsizetype open = tpl.indexOf(QLatin1Char('('));
        tpl.insert(open + 1, QLatin1String(table.keyColumn) + QLatin1Char(','));
        const qsizetype values = tpl.indexOf(QLatin1String("values(")) + 7;
        tpl.insert(values, QStringLiteral("SEQ_%1.NEXTVAL, ").arg(QString::fromLatin1(table.name).toUpper()));
    }

    QString out;
    out.reserve(tpl.size() + 512);
    size_t next = 0;
    for (qsizetype pos = 0; pos < tpl.size();) {
        const QChar ch = tpl.at(pos);
        if (ch != QLatin1Char('%')) {
            out += ch;
            ++pos;
            continue;
        }
        Q_ASSERT(next < table.columns.size());
        const adtg::AdtgField& f = fields[next];
        const Reading reading = table.columns[next].reading;
        ++next;
        switch (reading) {
        case Reading::Text:
            out += SqlTextLiteralBody(f.toText(), kind);
            pos += 2;
            break;
        case Reading::Integer:
            out += QString::number(f.toInteger());
            pos += 2;
            break;
        case Reading::Date:
            out += DateToSqlLiteral(f.toDateTime().date(), kind);
            pos += 2;
            break;
        case Reading::Amount: {
            int width = 0, decimals = 0;
            if (!parseAmountSpec(tpl, pos, &width, &decimals))
                return failWith(QStringLiteral("table %1: bad amount format").arg(QLatin1String(table.name)));
            out += formatAmount(f.toCurrency(), width, decimals);
            break;
        }
        }
    }
    Q_ASSERT(next == table.columns.size());
    sql = out;
    return true;
}

} // namespace

QString SqlTextLiteralBody(const QString& text, TDBKind kind)
{
    QString body = text;
    if (kind == dbkMySQL)
        body.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    body.replace(QLatin1Char('\''), QLatin1String("''"));
    return body;
}

bool BuildWageInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql, QString* error)
{
    return build(kWage, rows, kind, sql, error);
}

bool BuildNonWageInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql, QString* error)
{
    return build(kNonWage, rows, kind, sql, error);
}

bool BuildReportInsert(const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql, QString* error)
{
    return build(kReport, rows, kind, sql, error);
}

} // namespace sjql
