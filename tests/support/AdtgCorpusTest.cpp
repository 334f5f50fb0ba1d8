// SPDX-License-Identifier: MIT
// Every file of the corpus of ADO-written recordsets decodes to the columns and values of
// its XML twin (ADO's own XML of the same recordset), and files whose rows are all unchanged are
// written again byte for byte. The corpus lives in tests/data/adtg-corpus.
#include "support/AdtgReader.h"
#include "support/AdtgWriter.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace sjql::adtg;

namespace {

// The files were saved on a Windows machine whose ANSI code page is 949.
const QByteArray kCorpusCodePage = QByteArrayLiteral("CP949");

struct XmlColumn
{
    QString name;
    bool nullable = false;
    QString type;
    QString dbtype;
    quint32 maxLength = 0;
    quint32 precision = 0;
    qint32 scale = 0;
};

using XmlRow = QHash<QString, QString>; // attribute name -> value; a missing column is NULL

struct XmlTwin
{
    std::vector<XmlColumn> columns;
    std::vector<XmlRow> rows; // the current view: updates merged, inserts kept, deletes dropped
    bool allUnchanged = true;
};

XmlTwin parseTwin(const QString& path)
{
    XmlTwin twin;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader xml(&f);
    QString section; // "", "update", "original", "insert", "delete"
    std::optional<XmlRow> original;
    while (!xml.atEnd()) {
        xml.readNext();
        const QStringView n = xml.name();
        if (xml.isStartElement()) {
            const QXmlStreamAttributes a = xml.attributes();
            if (n == u"AttributeType") {
                XmlColumn c;
                c.name = a.value(QLatin1String("name")).toString();
                c.nullable = a.value(QLatin1String("rs:nullable")) == u"true";
                twin.columns.push_back(c);
            } else if (n == u"datatype") {
                XmlColumn& c = twin.columns.back();
                c.type = a.value(QLatin1String("dt:type")).toString();
                c.dbtype = a.value(QLatin1String("rs:dbtype")).toString();
                c.maxLength = a.value(QLatin1String("dt:maxLength")).toUInt();
                c.precision = a.value(QLatin1String("rs:precision")).toUInt();
                c.scale = a.value(QLatin1String("rs:scale")).toInt();
            } else if (n == u"update" || n == u"insert" || n == u"delete") {
                section = n.toString();
                twin.allUnchanged = false;
            } else if (n == u"original") {
                section = QStringLiteral("original");
            } else if (xml.qualifiedName() == u"z:row") {
                XmlRow row;
                for (const QXmlStreamAttribute& attr : a)
                    row.insert(attr.name().toString(), attr.value().toString());
                if (section == u"original") {
                    original = row;
                } else if (section == u"update") {
                    // The changed row names only the columns that changed.
                    XmlRow merged = original.value_or(XmlRow());
                    for (auto it = row.cbegin(); it != row.cend(); ++it)
                        merged.insert(it.key(), it.value());
                    twin.rows.push_back(merged);
                } else if (section != u"delete") {
                    twin.rows.push_back(row);
                }
            }
        } else if (xml.isEndElement()) {
            if (n == u"original")
                section = QStringLiteral("update");
            else if (n == u"update" || n == u"insert" || n == u"delete")
                section.clear();
        }
    }
    EXPECT_FALSE(xml.hasError()) << path.toStdString() << ": " << xml.errorString().toStdString();
    return twin;
}

// Plain decimal text without sign of zero, leading or trailing zeros: "-.50" -> "-0.5".
QString normalDecimal(QString s)
{
    s = s.trimmed();
    bool negative = s.startsWith(QLatin1Char('-'));
    if (negative || s.startsWith(QLatin1Char('+')))
        s.remove(0, 1);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    while (s.size() > 1 && s.startsWith(QLatin1Char('0')) && s.at(1) != QLatin1Char('.'))
        s.remove(0, 1);
    if (s.isEmpty() || s.startsWith(QLatin1Char('.')))
        s.prepend(QLatin1Char('0'));
    if (s == QLatin1String("0"))
        negative = false;
    return negative ? QLatin1Char('-') + s : s;
}

// The value of the reader compared with the XML text of the same value.
void expectSameValue(const AdtgField& field, const XmlColumn& xc, const QString& xmlText, const std::string& where)
{
    const QString ours = field.toText();
    const QString type = xc.type;
    if (type == u"number" || type == u"ui8" || type == u"i8") {
        EXPECT_EQ(normalDecimal(ours), normalDecimal(xmlText)) << where;
    } else if (type == u"float" || type == u"r4") {
        EXPECT_EQ(ours.toDouble(), xmlText.toDouble()) << where;
    } else if (type == u"dateTime" || type == u"date") {
        EXPECT_EQ(ours.left(xmlText.size()), QString(xmlText).replace(QLatin1Char('T'), QLatin1Char(' '))) << where;
    } else if (type == u"bin.hex") {
        EXPECT_EQ(ours, QString(xmlText).remove(QRegularExpression(QStringLiteral("\\s")))) << where;
    } else {
        EXPECT_EQ(ours, xmlText) << where;
    }
}

QString corpusDir()
{
    return QStringLiteral(SJQL_SOURCE_DIR "/tests/data/adtg-corpus");
}

// ADO type code per file, from the corpus's own list.
QHash<QString, int> coverageTypes()
{
    QHash<QString, int> types;
    QFile f(corpusDir() + QStringLiteral("/coverage.csv"));
    if (!f.open(QIODevice::ReadOnly))
        return types;
    f.readLine();
    while (!f.atEnd()) {
        const QStringList cells = QString::fromUtf8(f.readLine()).trimmed().split(QLatin1Char(','));
        if (cells.size() < 6)
            continue;
        QString adtg = cells.at(5);
        adtg.remove(QLatin1Char('"'));
        types.insert(adtg.section(QLatin1Char('/'), -1), QString(cells.at(1)).remove(QLatin1Char('"')).toInt());
    }
    return types;
}

QVariant writerValue(const XmlColumn& xc, const QString& text)
{
    if (xc.type == u"bin.hex")
        return QByteArray::fromHex(QString(text).remove(QRegularExpression(QStringLiteral("\\s"))).toLatin1());
    return text;
}

} // namespace

TEST(AdtgCorpus, EveryFileMatchesItsXmlTwin)
{
    const QDir dir(corpusDir());
    const QStringList files = dir.entryList({QStringLiteral("*.adtg")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 100) << "corpus not found at " << dir.path().toStdString();
    const QHash<QString, int> types = coverageTypes();
    ASSERT_EQ(types.size(), files.size());

    int reproduced = 0, unchangedFiles = 0, values = 0;
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const XmlTwin twin =
            parseTwin(dir.filePath(QString(name).replace(QLatin1String(".adtg"), QLatin1String(".xml"))));
        AdtgRecordset rs;
        rs.setAnsiCodePage(kCorpusCodePage);
        ASSERT_TRUE(rs.open(dir.filePath(name))) << rs.errorString().toStdString();
        EXPECT_TRUE(rs.warnings().isEmpty()) << rs.warnings().join(QLatin1Char('\n')).toStdString();

        // Columns: names, ADO types, nullability, lengths, precision and scale.
        ASSERT_EQ(static_cast<size_t>(rs.fieldCount()), twin.columns.size());
        for (int i = 0; i < rs.fieldCount(); ++i) {
            const AdtgColumn& c = rs.column(i);
            const XmlColumn& xc = twin.columns[i];
            EXPECT_EQ(c.name, xc.name);
            EXPECT_EQ(c.nullable(), xc.nullable) << xc.name.toStdString();
            if (fixedWireSize(c.wireType) == 0) {
                EXPECT_EQ(c.maxLength, xc.maxLength) << xc.name.toStdString();
            }
            if (c.wireType == 0x0E || c.wireType == 0x83) {
                EXPECT_EQ(c.precision, xc.precision);
                EXPECT_EQ(c.scale, xc.scale);
            }
        }
        const int expectedType = types.value(name);
        EXPECT_EQ(rs.column(1).adoType(), expectedType == adBSTR ? adLongVarWChar : expectedType);

        // Rows of the current view, in order, value by value.
        ASSERT_EQ(static_cast<size_t>(rs.recordCount()), twin.rows.size());
        size_t r = 0;
        for (; !rs.eof(); rs.moveNext(), ++r) {
            const XmlRow& row = twin.rows[r];
            for (int i = 0; i < rs.fieldCount(); ++i) {
                const XmlColumn& xc = twin.columns[i];
                const std::string where = "row " + std::to_string(r + 1) + " column " + xc.name.toStdString();
                const AdtgField field = rs.field(i);
                ASSERT_TRUE(field.isValid());
                if (!row.contains(xc.name)) {
                    EXPECT_TRUE(field.isNull()) << where;
                    continue;
                }
                ASSERT_FALSE(field.isNull()) << where;
                expectSameValue(field, xc, row.value(xc.name), where);
                ++values;
            }
        }

        // Files of unchanged rows are written again byte for byte from the XML's columns and values.
        if (!twin.allUnchanged)
            continue;
        ++unchangedFiles;
        std::vector<AdtgColumn> columns;
        for (size_t i = 0; i < twin.columns.size(); ++i) {
            const XmlColumn& xc = twin.columns[i];
            const int type = i == 0 ? adInteger : expectedType;
            columns.push_back(
                AdtgColumn::fromAdoType(xc.name, type, xc.maxLength, xc.nullable, xc.precision, xc.scale));
        }
        AdtgWriter writer(columns);
        writer.setAnsiCodePage(kCorpusCodePage);
        for (const XmlRow& row : twin.rows) {
            QVariantList cells;
            for (const XmlColumn& xc : twin.columns)
                cells << (row.contains(xc.name) ? writerValue(xc, row.value(xc.name)) : QVariant());
            ASSERT_TRUE(writer.addRow(cells)) << writer.errorString().toStdString();
        }
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray original = f.readAll();
        const QByteArray ours = writer.toBytes();
        if (ours == original)
            ++reproduced;
        else
            ADD_FAILURE() << "bytes differ from offset "
                          << std::mismatch(ours.begin(), ours.end(), original.begin(), original.end()).first -
                                 ours.begin();
    }
    EXPECT_GT(values, 500);
    std::printf("corpus: %lld files, %d values compared, %d of %d unchanged-row files reproduced byte for byte\n",
                static_cast<long long>(files.size()), values, reproduced, unchangedFiles);
}
