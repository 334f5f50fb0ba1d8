// SPDX-License-Identifier: MIT
// adtgdump FILE [CODEPAGE]: prints a persisted recordset (ADTG) as text. The first line lists the
// columns as name:ADO-type, then one line per row with tab-separated values (NULL as \N, dates as
// yyyy-MM-dd hh:mm:ss, numbers in plain decimal). A damaged file prints the reason and exits 1.
#include "support/AdtgReader.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

// Tabs and line breaks inside a value would break the layout: escape them as the
// tab-separated formats of database tools do.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        if (ch == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (ch == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (ch == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (ch == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += ch;
    }
    return out;
}

void print(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: adtgdump FILE [ANSI-CODEPAGE]\n");
        return 2;
    }
    sjql::adtg::AdtgRecordset rs;
    if (args.size() == 3)
        rs.setAnsiCodePage(args.at(2).toLatin1());
    if (!rs.open(args.at(1))) {
        std::fprintf(stderr, "adtgdump: %s\n", rs.errorString().toUtf8().constData());
        return 1;
    }
    QStringList header;
    for (int i = 0; i < rs.fieldCount(); ++i)
        header << QStringLiteral("%1:%2").arg(escaped(rs.column(i).name)).arg(rs.column(i).adoType());
    print(header.join(QLatin1Char('\t')));
    for (; !rs.eof(); rs.moveNext()) {
        QStringList cells;
        for (int i = 0; i < rs.fieldCount(); ++i) {
            const sjql::adtg::AdtgField f = rs.field(i);
            cells << (f.isNull() ? QStringLiteral("\\N") : escaped(f.toText()));
        }
        print(cells.join(QLatin1Char('\t')));
    }
    for (const QString& w : rs.warnings())
        std::fprintf(stderr, "adtgdump: warning: %s\n", w.toUtf8().constData());
    return 0;
}
