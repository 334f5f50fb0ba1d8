// SPDX-License-Identifier: MIT
#include "jobs/RowBuilders.h"

#include "db/SqlLiteral.h"
#include "support/AdtgReader.h"

#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <span>
#include <vector>

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

const Table* const kTables[] = {&kWage, &kNonWage, &kReport};

// Appends the decimal digits of `value` to a character buffer ending at `end`; the start.
char* digitsBefore(char* end, quint64 value)
{
    do {
        *--end = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

void appendLatin1(QString& out, const char* begin, const char* end)
{
    out.append(QLatin1StringView(begin, end - begin));
}

void appendInteger(QString& out, qint64 value)
{
    char buffer[24];
    char* end = buffer + sizeof buffer;
    const quint64 magnitude = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    char* begin = digitsBefore(end, magnitude);
    if (value < 0)
        *--begin = '-';
    appendLatin1(out, begin, end);
}

// The digits of an amount given in ten-thousandths, rounded half away from zero to `decimals`
// places (0..4), as "%.*f" writes them, placed before `end`; returns their start. Working on the
// exact scaled value keeps 14-digit amounts to the cent, which a detour through double would not.
char* amountDigits(char* end, qint64 scaled, int decimals)
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
    char* begin = end;
    if (decimals > 0) {
        quint64 fraction = magnitude % unit;
        for (int d = 0; d < decimals; ++d) {
            *--begin = char('0' + fraction % 10);
            fraction /= 10;
        }
        *--begin = '.';
    }
    begin = digitsBefore(begin, magnitude / unit);
    if (negative && magnitude != 0)
        *--begin = '-';
    return begin;
}

// The same amount right-aligned in `width` characters, as "%*.*f" writes it.
void appendAmount(QString& out, qint64 scaled, int width, int decimals)
{
    char buffer[48];
    char* end = buffer + sizeof buffer;
    const char* begin = amountDigits(end, scaled, decimals);
    for (qsizetype pad = width - (end - begin); pad > 0; --pad)
        out.append(QLatin1Char(' '));
    appendLatin1(out, begin, end);
}

// A statement template taken apart once: the literal text before each placeholder, the
// placeholder's amount format, and the text after the last one.
struct Piece
{
    QString before;
    int width = 0;    // amounts only
    int decimals = 0; // amounts only
};
struct Compiled
{
    std::vector<Piece> pieces; // one per column, in column order
    QString tail;
    bool ok = false;
};

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
    if (i >= tpl.size() || tpl.at(i) != QLatin1Char('f') || p > 4)
        return false;
    pos = i + 1;
    *width = w;
    *decimals = p;
    return true;
}

// The statement template of a table for a database kind, before it is taken apart.
QString templateFor(const Table& table, TDBKind kind)
{
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
    return tpl;
}

Compiled compile(const Table& table, TDBKind kind)
{
    const QString tpl = templateFor(table, kind);
    Compiled c;
    QString literal;
    for (qsizetype pos = 0; pos < tpl.size();) {
        const QChar ch = tpl.at(pos);
        if (ch != QLatin1Char('%')) {
            literal += ch;
            ++pos;
            continue;
        }
        if (c.pieces.size() >= table.columns.size())
            return c;
        Piece piece;
        piece.before = literal;
        literal.clear();
        if (table.columns[c.pieces.size()].reading == Reading::Amount) {
            if (!parseAmountSpec(tpl, pos, &piece.width, &piece.decimals))
                return c;
        } else {
            pos += 2;
        }
        c.pieces.push_back(piece);
    }
    c.tail = literal;
    c.ok = c.pieces.size() == table.columns.size();
    return c;
}

// The compiled templates of a table for every database kind, made once (thread-safe static).
const Compiled& compiledFor(const Table& table, TDBKind kind)
{
    constexpr int kinds = dbkSQLite + 1;
    using All = std::array<Compiled, kinds>;
    auto all = [](const Table& t) {
        All a;
        for (int k = 0; k < kinds; ++k)
            a[size_t(k)] = compile(t, TDBKind(k));
        return a;
    };
    static const All wage = all(kWage), nonWage = all(kNonWage), report = all(kReport);
    const All& a = &table == &kWage ? wage : &table == &kNonWage ? nonWage : report;
    return a[size_t(kind >= 0 && kind < kinds ? kind : 0)];
}

// The positions of a table's columns in a data file, remembered from the previous row: a data file
// keeps its columns from row to row, so each is checked with one comparison instead of a search.
struct FieldCache
{
    std::array<int, 32> index{};
    FieldCache() { index.fill(-1); }
};

int fieldIndexOf(const adtg::AdtgRecordset& rows, const char* name, int& cached)
{
    const QLatin1StringView wanted(name);
    if (cached >= 0 && cached < rows.fieldCount() && rows.column(cached).name.compare(wanted, Qt::CaseInsensitive) == 0)
        return cached;
    cached = rows.fieldIndex(QString(wanted));
    return cached;
}

using Fields = std::array<int, 32>; // the data file's field index of each column

int tableIndex(const Table& table)
{
    return &table == &kWage ? 0 : &table == &kNonWage ? 1 : 2;
}

// The fields of the current row in the table's column order. False with *error when there is no
// current row or the data file lacks a column: every column is looked up before any value is
// written, so such a file fails before any text is built.
bool lookUpFields(const Table& table, const adtg::AdtgRecordset& rows, Fields& fields, QString* error)
{
    auto failWith = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (rows.eof())
        return failWith(QStringLiteral("table %1: no current row to insert").arg(QLatin1String(table.name)));
    thread_local FieldCache caches[3];
    FieldCache& cache = caches[tableIndex(table)];
    for (size_t c = 0; c < table.columns.size(); ++c) {
        fields[c] = fieldIndexOf(rows, table.columns[c].name, cache.index[c]);
        if (fields[c] < 0)
            return failWith(QStringLiteral("table %1: column %2 is missing")
                                .arg(QLatin1String(table.name), QLatin1String(table.columns[c].name)));
    }
    return true;
}

bool build(const Table& table, const adtg::AdtgRecordset& rows, TDBKind kind, QString& sql, QString* error)
{
    sql.resize(0);
    Fields fields;
    if (!lookUpFields(table, rows, fields, error)) {
        sql.clear();
        return false;
    }
    const Compiled& tpl = compiledFor(table, kind);
    if (!tpl.ok) {
        sql.clear();
        if (error)
            *error = QStringLiteral("table %1: bad amount format").arg(QLatin1String(table.name));
        return false;
    }
    sql.reserve(1024);
    thread_local QString text; // one text at a time, its memory kept
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const Piece& piece = tpl.pieces[c];
        sql += piece.before;
        const int f = fields[c];
        switch (table.columns[c].reading) {
        case Reading::Text:
            rows.textAt(f, text);
            AppendSqlTextLiteralBody(sql, text, kind);
            break;
        case Reading::Integer:
            appendInteger(sql, rows.integerAt(f));
            break;
        case Reading::Date:
            AppendDateLiteral(sql, rows.dateAt(f), kind);
            break;
        case Reading::Amount:
            appendAmount(sql, rows.currencyAt(f), piece.width, piece.decimals);
            break;
        }
    }
    sql += tpl.tail;
    return true;
}

// A text as the bound row carries it: the UTF-8 the literal statement's text becomes on its way
// to the database. True when it holds a NUL character.
bool appendUtf8(QByteArray& out, QStringView text)
{
    const qsizetype start = out.size();
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    out.resize(start + encoder.requiredSpace(text.size()));
    char* end = encoder.appendToBuffer(out.data() + start, text);
    out.truncate(end - out.constData());
    return text.contains(QChar(0));
}

bool buildBound(const Table& table, const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row, QString* error)
{
    row.clear();
    Fields fields;
    const Compiled& tpl = compiledFor(table, kind);
    if (!lookUpFields(table, rows, fields, error) || !tpl.ok) {
        if (tpl.ok || !error)
            return false;
        *error = QStringLiteral("table %1: bad amount format").arg(QLatin1String(table.name));
        return false;
    }
    row.position = rows.position();
    thread_local QString text, date; // their memory kept from row to row
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const int f = fields[c];
        switch (table.columns[c].reading) {
        case Reading::Text: {
            const qsizetype offset = row.bytes.size();
            rows.textAt(f, text);
            // A NUL cannot be written into the literal statement: that row takes the literal path,
            // which fails or not the way it always has.
            if (appendUtf8(row.bytes, text))
                row.literalOnly = true;
            row.values.push_back({0, qint32(offset), qint32(row.bytes.size() - offset)});
            break;
        }
        case Reading::Integer:
            row.addInteger(rows.integerAt(f));
            break;
        case Reading::Date: {
            // The text between the quotes of the kind's date literal.
            date.resize(0);
            AppendDateLiteral(date, rows.dateAt(f), kind);
            char latin[32];
            const qsizetype n = std::min<qsizetype>(date.size() - 2, sizeof latin);
            for (qsizetype i = 0; i < n; ++i)
                latin[i] = char(date.at(i + 1).unicode());
            row.addBytes(latin, n);
            break;
        }
        case Reading::Amount: {
            char buffer[48];
            char* end = buffer + sizeof buffer;
            const char* begin = amountDigits(end, rows.currencyAt(f), tpl.pieces[c].decimals);
            row.addBytes(begin, end - begin);
            break;
        }
        }
    }
    return true;
}

} // namespace

std::vector<RestoreColumn> RestoredColumns(int index)
{
    if (index < 0 || index > 2)
        return {};
    const Table& table = *kTables[index];
    // The amount formats as the statement of the embedded kind has them; every kind shares them.
    const Compiled& tpl = compiledFor(table, dbkSQLite);
    std::vector<RestoreColumn> out;
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const Reading r = table.columns[c].reading;
        const RestoreReading reading = r == Reading::Text      ? RestoreReading::Text
                                       : r == Reading::Integer ? RestoreReading::Integer
                                       : r == Reading::Amount  ? RestoreReading::Amount
                                                               : RestoreReading::Date;
        const int decimals = r == Reading::Amount && tpl.ok ? tpl.pieces[c].decimals : 0;
        out.push_back({table.columns[c].name, reading, decimals});
    }
    return out;
}

QString BoundInsertText(int index, TDBKind kind)
{
    if (index < 0 || index > 2 || (kind != dbkSQLite && kind != dbkMySQL))
        return {};
    const Table& table = *kTables[index];
    const QString tpl = templateFor(table, kind);
    const qsizetype values = tpl.indexOf(QLatin1String("values("));
    QString sql = tpl.left(values) + QLatin1String("values(");
    for (size_t c = 0; c < table.columns.size(); ++c) {
        if (c > 0)
            sql += QLatin1String(", ");
        // SQLite reads the amount's digits into a REAL as it reads the literal.
        sql += table.columns[c].reading == Reading::Amount && kind == dbkSQLite ? QLatin1String("CAST(? AS REAL)")
                                                                                : QLatin1String("?");
    }
    return sql + QLatin1Char(')');
}

std::vector<BoundType> BoundInsertTypes(int index)
{
    std::vector<BoundType> types;
    if (index < 0 || index > 2)
        return types;
    for (const Column& column : kTables[index]->columns)
        types.push_back(column.reading == Reading::Integer  ? BoundType::Integer
                        : column.reading == Reading::Amount ? BoundType::Decimal
                                                            : BoundType::Text);
    return types;
}

bool BuildWageRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row, QString* error)
{
    return buildBound(kWage, rows, kind, row, error);
}

bool BuildNonWageRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row, QString* error)
{
    return buildBound(kNonWage, rows, kind, row, error);
}

bool BuildReportRow(const adtg::AdtgRecordset& rows, TDBKind kind, BoundRow& row, QString* error)
{
    return buildBound(kReport, rows, kind, row, error);
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
