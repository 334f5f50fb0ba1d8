// SPDX-License-Identifier: MIT
#include "Ledger.h"

#include "support/AdtgReader.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cmath>

namespace sjql::fault {

namespace {

const char* const kTables[] = {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"};

qint64 pow10(int n)
{
    qint64 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

QString scaledText(qint64 scaled, int scale)
{
    const bool negative = scaled < 0;
    const quint64 a = negative ? quint64(-(scaled + 1)) + 1 : quint64(scaled);
    QString out = negative ? QStringLiteral("-") : QString();
    out += QString::number(a / quint64(pow10(scale)));
    if (scale > 0)
        out += QLatin1Char('.') + QStringLiteral("%1").arg(a % quint64(pow10(scale)), scale, 10, QLatin1Char('0'));
    return out;
}

// A plain decimal text rounded half away from zero to `scale` decimals; false when it is not one.
bool parseDecimal(QStringView s, int scale, qint64* scaled)
{
    s = s.trimmed();
    bool negative = false;
    if (!s.isEmpty() && (s.front() == QLatin1Char('-') || s.front() == QLatin1Char('+'))) {
        negative = s.front() == QLatin1Char('-');
        s = s.mid(1);
    }
    qint64 whole = 0, frac = 0;
    int fracDigits = 0;
    bool roundUp = false, dot = false, any = false;
    for (QChar c : s) {
        if (c == QLatin1Char('.') && !dot) {
            dot = true;
            continue;
        }
        if (!c.isDigit())
            return false;
        any = true;
        const int d = c.digitValue();
        if (!dot) {
            whole = whole * 10 + d;
        } else if (fracDigits < scale) {
            frac = frac * 10 + d;
            ++fracDigits;
        } else if (fracDigits == scale) {
            roundUp = d >= 5;
            ++fracDigits;
        }
    }
    if (!any)
        return false;
    while (fracDigits < scale) {
        frac *= 10;
        ++fracDigits;
    }
    qint64 v = whole * pow10(scale) + frac + (roundUp ? 1 : 0);
    *scaled = negative ? -v : v;
    return true;
}

} // namespace

ColumnDesc describeColumn(const QString& name, const QString& declaredType, int scale, bool primaryKey)
{
    ColumnDesc c;
    c.name = name;
    const QString t = declaredType.toUpper();
    if (primaryKey && t.contains(QLatin1String("INT"))) {
        c.kind = ColumnKind::Key;
    } else if (t.contains(QLatin1String("DEC")) || t.contains(QLatin1String("NUMERIC"))) {
        c.kind = ColumnKind::Decimal;
        static const QRegularExpression ps(QStringLiteral("\\(\\s*\\d+\\s*,\\s*(\\d+)\\s*\\)"));
        const auto m = ps.match(t);
        c.scale = m.hasMatch() ? m.captured(1).toInt() : scale;
    } else if (t.contains(QLatin1String("INT"))) {
        c.kind = ColumnKind::Integer;
    } else if (t.startsWith(QLatin1String("DATE"))) {
        c.kind = ColumnKind::Date;
    } else {
        c.kind = ColumnKind::Text;
    }
    return c;
}

bool describeHistoryTables(const QSqlDatabase& db, bool sqlite, std::vector<TableDesc>* out, QString* error)
{
    out->clear();
    for (const char* name : kTables) {
        TableDesc t;
        t.name = QLatin1String(name);
        QSqlQuery q(db);
        const QString sql =
            sqlite ? QStringLiteral("PRAGMA table_info(%1)").arg(t.name)
                   : QStringLiteral("select COLUMN_NAME, COLUMN_TYPE, coalesce(NUMERIC_SCALE,0), COLUMN_KEY from "
                                    "information_schema.COLUMNS where TABLE_SCHEMA=database() and TABLE_NAME='%1' "
                                    "order by ORDINAL_POSITION")
                         .arg(t.name);
        if (!q.exec(sql)) {
            *error = sql + QStringLiteral(": ") + q.lastError().text();
            return false;
        }
        while (q.next()) {
            if (sqlite)
                t.columns.push_back(
                    describeColumn(q.value(1).toString(), q.value(2).toString(), 0, q.value(5).toInt() > 0));
            else
                t.columns.push_back(describeColumn(q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(),
                                                   q.value(3).toString() == QLatin1String("PRI")));
        }
        if (t.columns.empty()) {
            *error = QStringLiteral("table %1 has no columns").arg(t.name);
            return false;
        }
        out->push_back(std::move(t));
    }
    return true;
}

QString canonicalDecimal(const QVariant& v, int scale)
{
    if (v.isNull() || !v.isValid())
        return QStringLiteral("\\N");
    qint64 scaled = 0;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        scaled = qRound64(v.toDouble() * double(pow10(scale)));
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        scaled = v.toLongLong() * pow10(scale);
        break;
    default:
        if (!parseDecimal(v.toString(), scale, &scaled)) {
            bool ok = false;
            const double d = v.toString().toDouble(&ok);
            if (!ok)
                return QStringLiteral("?") + v.toString();
            scaled = qRound64(d * double(pow10(scale)));
        }
    }
    return scaledText(scaled, scale);
}

QString canonicalValue(const QVariant& v, const ColumnDesc& c)
{
    if (v.isNull() || !v.isValid())
        return QStringLiteral("\\N");
    switch (c.kind) {
    case ColumnKind::Decimal:
        return canonicalDecimal(v, c.scale);
    case ColumnKind::Integer:
    case ColumnKind::Key:
        return QString::number(v.toLongLong());
    case ColumnKind::Date: {
        QDate d;
        if (v.typeId() == QMetaType::QDate)
            d = v.toDate();
        else if (v.typeId() == QMetaType::QDateTime)
            d = v.toDateTime().date();
        else
            d = QDate::fromString(v.toString().left(10), Qt::ISODate);
        return d.isValid() ? d.toString(Qt::ISODate) : QStringLiteral("?") + v.toString();
    }
    case ColumnKind::Text:
        return v.toString();
    }
    return v.toString();
}

RowKey rowKey(const QString& text)
{
    return RowKey{quint64(qHash(text, 0x51ed270b27cfULL)), quint64(qHash(text, 0x2545F4914F6CDD1DULL))};
}

void RowBag::add(const RowKey& k, const RowInfo& info, int n)
{
    Entry& e = m_counts[k];
    if (e.n == 0 && e.info.table.isEmpty())
        e.info = info;
    e.n += n;
    m_total += n;
}

const RowInfo* RowBag::info(const RowKey& k) const
{
    const auto it = m_counts.constFind(k);
    return it == m_counts.cend() ? nullptr : &it.value().info;
}

qint64 RowBag::countOf(const QString& agent, const QString& period) const
{
    qint64 n = 0;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it) {
        if (it.value().info.agent == agent && it.value().info.period == period)
            n += it.value().n;
    }
    return n;
}

namespace {

// A short name of a row: its table's person columns, whichever it has.
QString labelOf(const QStringList& names, const QStringList& values)
{
    QStringList parts;
    for (const char* c : {"GH", "XM", "NSRXM", "ZZHM", "SDXM"}) {
        const qsizetype i = names.indexOf(QLatin1String(c));
        if (i >= 0)
            parts << values[i];
    }
    return parts.join(QLatin1Char('/'));
}

void finishRow(const TableDesc& t, const QStringList& names, const QStringList& values, QString* text, RowInfo* info)
{
    *text = t.name + QChar(0x1E) + values.join(QChar(0x1F));
    info->table = t.name;
    info->agent = values.value(names.indexOf(QStringLiteral("KJYWRBM")));
    info->period = values.value(names.indexOf(QStringLiteral("FFYF")));
    info->label = labelOf(names, values);
}

} // namespace

bool fileRowText(const adtg::AdtgRecordset& rs, const TableDesc& t, QString* text, RowInfo* info, QString* error)
{
    QStringList names, values;
    for (const ColumnDesc& c : t.columns) {
        if (c.kind == ColumnKind::Key)
            continue;
        const adtg::AdtgField f = rs.field(c.name);
        if (!f.isValid()) {
            *error = QStringLiteral("no column %1").arg(c.name);
            return false;
        }
        names << c.name;
        if (!f.isNull() && c.kind == ColumnKind::Decimal && f.column().adoType() == adtg::adCurrency)
            values << canonicalDecimal(QString::number(double(f.toCurrency()) / 10000.0, 'f', 4), c.scale);
        else
            values << canonicalValue(f.value(), c);
    }
    finishRow(t, names, values, text, info);
    return true;
}

bool readDatabaseRows(const QSqlDatabase& db, const std::vector<TableDesc>& tables, RowBag* out, QString* error)
{
    for (const TableDesc& t : tables) {
        QStringList names;
        QStringList cols;
        for (const ColumnDesc& c : t.columns) {
            if (c.kind == ColumnKind::Key)
                continue;
            names << c.name;
            cols << c.name;
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        const QString sql = QStringLiteral("select %1 from %2").arg(cols.join(QLatin1Char(',')), t.name);
        if (!q.exec(sql)) {
            *error = sql.left(80) + QStringLiteral("...: ") + q.lastError().text();
            return false;
        }
        int at = 0;
        std::vector<const ColumnDesc*> kinds;
        for (const ColumnDesc& c : t.columns) {
            if (c.kind != ColumnKind::Key)
                kinds.push_back(&c);
        }
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < int(kinds.size()); ++i)
                values << canonicalValue(q.value(i), *kinds[size_t(i)]);
            QString text;
            RowInfo info;
            finishRow(t, names, values, &text, &info);
            out->add(rowKey(text), info);
            ++at;
        }
        if (q.lastError().isValid()) {
            *error = t.name + QStringLiteral(": ") + q.lastError().text();
            return false;
        }
    }
    return true;
}

bool readDataFileRows(const QByteArray& bytes, const QString& name, const TableDesc& t, RowBag* out, QString* error,
                      const QString& expectAgent, const QString& expectPeriod, RowBag* misfiled)
{
    adtg::AdtgRecordset rs;
    if (!rs.openData(bytes, name)) {
        *error = rs.errorString();
        return false;
    }
    RowBag rows, wrong;
    for (; !rs.eof(); rs.moveNext()) {
        QString text;
        RowInfo info;
        if (!fileRowText(rs, t, &text, &info, error)) {
            *error = name + QStringLiteral(": ") + *error;
            return false;
        }
        const bool agrees = (expectAgent.isEmpty() || info.agent == expectAgent) &&
                            (expectPeriod.isEmpty() || info.period == expectPeriod);
        (agrees ? rows : wrong).add(rowKey(text), info);
    }
    rows.forEach([&](const RowKey& k, int n, const RowInfo& info) { out->add(k, info, n); });
    if (misfiled)
        wrong.forEach([&](const RowKey& k, int n, const RowInfo& info) { misfiled->add(k, info, n); });
    return true;
}

void Tally::addEvidence(const QString& what, const RowInfo* info, int n)
{
    if (evidence.size() >= 12)
        return;
    evidence << QStringLiteral("%1 x%2: %3").arg(what).arg(n).arg(info ? info->describe() : QStringLiteral("?"));
}

Tally account(const RowSources& s)
{
    static const RowBag empty;
    const RowBag& before = s.before ? *s.before : empty;
    const RowBag& db = s.database ? *s.database : empty;
    const RowBag& archived = s.archived ? *s.archived : empty;
    const RowBag& inputs = s.inputs ? *s.inputs : empty;
    const RowBag& leftover = s.leftover ? *s.leftover : empty;
    Tally t;
    before.forEach([&](const RowKey& k, int u, const RowInfo& info) {
        const int d = db.count(k), a = archived.count(k);
        const int found = d + a + inputs.count(k) + leftover.count(k);
        if (found < u) {
            t.lost += u - found;
            t.addEvidence(QStringLiteral("lost"), &info, u - found);
        }
        if (d + a > u) {
            t.duplicated += d + a - u;
            t.addEvidence(QStringLiteral("duplicated (db %1, archives %2)").arg(d).arg(a), &info, d + a - u);
        }
    });
    const auto newRows = [&](const RowBag& bag, const QString& where) {
        bag.forEach([&](const RowKey& k, int n, const RowInfo& info) {
            if (before.count(k) == 0) {
                t.misfiled += n;
                t.addEvidence(QStringLiteral("not there before, in ") + where, &info, n);
            }
        });
    };
    newRows(db, QStringLiteral("database"));
    newRows(archived, QStringLiteral("archive"));
    if (s.misfiled) {
        s.misfiled->forEach([&](const RowKey&, int n, const RowInfo& info) {
            t.misfiled += n;
            t.addEvidence(QStringLiteral("in an archive under another agent or month"), &info, n);
        });
    }
    return t;
}

} // namespace sjql::fault
