// SPDX-License-Identifier: MIT
#include "jobs/RunReport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace sjql {

namespace {

QJsonArray stringArray(const QStringList& texts)
{
    QJsonArray out;
    for (const QString& t : texts)
        out.append(t);
    return out;
}

QString timeText(const QDateTime& t)
{
    // With the offset from UTC, so that a program reading the document knows the moment.
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate) : QString();
}

// "ZCGZXJMXB=4 FGZXJB=2 KJSDSBGB=1"
QString rowsText(const std::vector<TableRows>& rows)
{
    QStringList parts;
    for (const TableRows& r : rows)
        parts << QStringLiteral("%1=%2").arg(r.table).arg(r.rows);
    return parts.join(QLatin1Char(' '));
}

} // namespace

bool ArchiveReport::sound() const
{
    if (!problems.isEmpty())
        return false;
    for (const MonthReport& m : months) {
        if (!m.problems.isEmpty())
            return false;
    }
    return true;
}

std::vector<TableRows> ArchiveReport::totalRows() const
{
    std::vector<TableRows> total;
    for (const MonthReport& m : months) {
        for (const TableRows& r : m.rows) {
            auto it = std::find_if(total.begin(), total.end(), [&](const TableRows& t) { return t.table == r.table; });
            if (it == total.end())
                total.push_back(r);
            else
                it->rows += r.rows;
        }
    }
    return total;
}

QStringList ArchiveReport::clearedMonths() const
{
    QStringList out;
    for (const MonthReport& m : months) {
        if (m.cleared)
            out << m.month;
    }
    return out;
}

QJsonObject TableRowsJson(const std::vector<TableRows>& rows)
{
    QJsonObject out;
    for (const TableRows& r : rows)
        out.insert(r.table, double(r.rows));
    return out;
}

QJsonObject MonthJson(const MonthReport& month)
{
    QJsonObject out;
    out.insert(QStringLiteral("month"), month.month);
    out.insert(QStringLiteral("cleared"), month.cleared);
    out.insert(QStringLiteral("declaration"), month.declaration);
    if (month.cleared)
        out.insert(QStringLiteral("rows"), TableRowsJson(month.rows));
    out.insert(QStringLiteral("problems"), stringArray(month.problems));
    return out;
}

QJsonObject ArchiveJson(const ArchiveReport& archive)
{
    QJsonObject out;
    out.insert(QStringLiteral("path"), archive.path);
    if (!archive.folderRole.isEmpty())
        out.insert(QStringLiteral("folder"), archive.folderRole);
    out.insert(QStringLiteral("size"), double(archive.size));
    out.insert(QStringLiteral("modified"), timeText(archive.modified));
    out.insert(QStringLiteral("written"), timeText(archive.written));
    out.insert(QStringLiteral("agent"), archive.agent);
    out.insert(QStringLiteral("year"), archive.year);
    out.insert(QStringLiteral("edition"), archive.edition);
    out.insert(QStringLiteral("members"), archive.members);
    out.insert(QStringLiteral("verified"), archive.verified);
    if (archive.verified)
        out.insert(QStringLiteral("verdict"), archive.verdict);
    out.insert(QStringLiteral("clearedMonths"), stringArray(archive.clearedMonths()));
    out.insert(QStringLiteral("rows"), TableRowsJson(archive.totalRows()));
    QJsonArray months;
    for (const MonthReport& m : archive.months)
        months.append(MonthJson(m));
    out.insert(QStringLiteral("months"), months);
    out.insert(QStringLiteral("problems"), stringArray(archive.problems));
    out.insert(QStringLiteral("sameYear"), stringArray(archive.sameYear));
    return out;
}

QJsonObject RunReportJson(const RunReport& report)
{
    QJsonObject out;
    out.insert(QStringLiteral("schema"), kRunReportSchema);
    out.insert(QStringLiteral("command"), report.command);
    out.insert(QStringLiteral("exitCode"), report.exitCode);
    out.insert(QStringLiteral("result"), report.result);
    if (!report.folders.empty()) {
        QJsonArray folders;
        for (const FolderReport& f : report.folders) {
            folders.append(QJsonObject{{QStringLiteral("path"), f.path},
                                       {QStringLiteral("role"), f.role},
                                       {QStringLiteral("exists"), f.exists}});
        }
        out.insert(QStringLiteral("folders"), folders);
    }
    QJsonArray archives;
    for (const ArchiveReport& a : report.archives)
        archives.append(ArchiveJson(a));
    out.insert(QStringLiteral("archives"), archives);
    if (!report.unfinished.empty()) {
        QJsonArray unfinished;
        for (const UnfinishedReport& u : report.unfinished) {
            unfinished.append(QJsonObject{{QStringLiteral("agent"), u.agent},
                                          {QStringLiteral("year"), u.year},
                                          {QStringLiteral("months"), stringArray(u.months)},
                                          {QStringLiteral("folder"), u.folder}});
        }
        out.insert(QStringLiteral("unfinished"), unfinished);
    }
    if (!report.lines.isEmpty())
        out.insert(QStringLiteral("lines"), stringArray(report.lines));
    return out;
}

QByteArray RunReportText(const RunReport& report)
{
    return QJsonDocument(RunReportJson(report)).toJson(QJsonDocument::Indented);
}

QString MonthLine(const MonthReport& month)
{
    QString line = QStringLiteral("month=") + month.month;
    if (!month.cleared)
        line += QStringLiteral(" not-cleared");
    else
        line += QStringLiteral(" cleared ") + rowsText(month.rows);
    line += month.problems.isEmpty() ? QStringLiteral(" ok")
                                     : QStringLiteral(" problem: ") + month.problems.join(QStringLiteral("；"));
    return line;
}

QString ArchiveLine(const ArchiveReport& archive)
{
    const auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    const QString months = MonthRunsText(archive.clearedMonths());
    const QString rows = rowsText(archive.totalRows());
    const QDateTime date = archive.written.isValid() ? archive.written : archive.modified;
    QStringList parts{orDash(archive.agent), orDash(archive.year), orDash(months)};
    if (!rows.isEmpty())
        parts << rows;
    parts << QStringLiteral("size=%1").arg(archive.size)
          << QStringLiteral("date=%1").arg(orDash(date.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))))
          << archive.path;
    return QStringLiteral("archive=") + parts.join(QLatin1Char(' '));
}

QString VerdictLine(const ArchiveReport& archive)
{
    return QStringLiteral("verdict=%1 %2").arg(archive.verdict, archive.path);
}

QString MonthRunsText(const QStringList& months)
{
    QStringList runs;
    QString first, last;
    auto close = [&] {
        if (!first.isEmpty())
            runs << (first == last ? first : first + QLatin1Char('-') + last);
    };
    for (const QString& m : months) {
        bool numeric = false;
        const qint64 value = m.toLongLong(&numeric);
        if (!first.isEmpty() && numeric && QString::number(value - 1) == last) {
            last = m;
            continue;
        }
        close();
        first = last = m;
    }
    close();
    return runs.join(QLatin1Char(','));
}

} // namespace sjql
