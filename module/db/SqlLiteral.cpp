// SPDX-License-Identifier: MIT
#include "db/SqlLiteral.h"

#include "context/ModuleContext.h"

namespace sjql {

namespace {

bool needsEscaping(const QString& text, TDBKind kind)
{
    return text.contains(QLatin1Char('\'')) || (kind == dbkMySQL && text.contains(QLatin1Char('\\')));
}

// Appends the date in the kind's form around the ten characters YYYY-MM-DD.
template <typename Body> void appendDateForm(QString& out, const Body& body, TDBKind kind)
{
    switch (kind) {
    case dbkAccess:
        out += QLatin1Char('#') + body + QLatin1Char('#');
        return;
    case dbkOracle:
        out += QLatin1String("TO_DATE('") + body + QLatin1String("', 'YYYY-MM-DD')");
        return;
    case dbkMSDE:
    case dbkSQLServer:
    case dbkMySQL:
    case dbkSQLite:
        break;
    }
    out += QLatin1Char('\'') + body + QLatin1Char('\'');
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

void AppendSqlTextLiteralBody(QString& out, const QString& text, TDBKind kind)
{
    if (needsEscaping(text, kind))
        out += SqlTextLiteralBody(text, kind);
    else
        out += text;
}

QString SqlTextLiteral(const QString& text, TDBKind kind)
{
    QString literal;
    literal.reserve(text.size() + 2);
    literal += QLatin1Char('\'');
    AppendSqlTextLiteralBody(literal, text, kind);
    literal += QLatin1Char('\'');
    return literal;
}

QString SqlTextLiteral(const QString& text)
{
    return SqlTextLiteral(text, GetDBKind());
}

void AppendDateLiteral(QString& out, const QDate& date, TDBKind kind)
{
    const int year = date.year();
    if (!date.isValid() || year < 0 || year > 9999) {
        // Outside four-digit years the digits are written as they come.
        appendDateForm(out,
                       QStringLiteral("%1-%2-%3")
                           .arg(year, 4, 10, QLatin1Char('0'))
                           .arg(date.month(), 2, 10, QLatin1Char('0'))
                           .arg(date.day(), 2, 10, QLatin1Char('0')),
                       kind);
        return;
    }
    const char text[10] = {char('0' + year / 1000),
                           char('0' + year / 100 % 10),
                           char('0' + year / 10 % 10),
                           char('0' + year % 10),
                           '-',
                           char('0' + date.month() / 10),
                           char('0' + date.month() % 10),
                           '-',
                           char('0' + date.day() / 10),
                           char('0' + date.day() % 10)};
    appendDateForm(out, QLatin1StringView(text, sizeof text), kind);
}

QString DateToSqlLiteral(const QDate& date, TDBKind kind)
{
    QString literal;
    AppendDateLiteral(literal, date, kind);
    return literal;
}

QString DateToSqlLiteral(const QDate& date)
{
    return DateToSqlLiteral(date, GetDBKind());
}

QString SqlQuotedIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace sjql
