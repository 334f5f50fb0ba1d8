// SPDX-License-Identifier: MIT
#include "support/XmlDocument.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sjql;

namespace {

class XmlDocumentTest : public ::testing::Test
{
protected:
    // Writes `bytes` as a file and loads it; the error text is kept in `error`.
    std::unique_ptr<XmlDocument> load(const QByteArray& bytes)
    {
        const QString path = tmp.filePath(QStringLiteral("BFZYXX.xml"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        error.clear();
        return XmlDocument::fromFile(path, &error);
    }

    QTemporaryDir tmp;
    QString error;
};

TEST_F(XmlDocumentTest, ReadsASummaryInGbk)
{
    // 测试 in GBK, and a record as the backup writes it.
    const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"GBK\" ?><QVRBFXX KJYWRBM=\"\xb2\xe2\xca\xd4\"  "
                             "YEAR=\"2019\"  CODE=\"03\"><RECORDS><RECORD SDYF=\"201901\" WYSBH=\"\" SFQL=\"N\" "
                             "GZFILENAME=\"\" FGZFILENAME=\"\"  BGBFILENAME=\"\" /></RECORDS></QVRBFXX>";
    auto doc = load(bytes);
    ASSERT_TRUE(doc) << error.toStdString();
    XmlNode root = doc->root();
    EXPECT_EQ(root.name(), QStringLiteral("QVRBFXX"));
    EXPECT_EQ(root.attribute(QStringLiteral("KJYWRBM")), QStringLiteral("测试"));
    EXPECT_EQ(root.attribute(QStringLiteral("CODE")), QStringLiteral("03"));
    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    ASSERT_EQ(records.childCount(), 1);
    const XmlNode record = records.child(0);
    EXPECT_EQ(record.name(), QStringLiteral("RECORD"));
    EXPECT_EQ(record.attribute(QStringLiteral("SDYF")), QStringLiteral("201901"));
    // Present but empty differs from absent.
    EXPECT_EQ(record.attribute(QStringLiteral("WYSBH")), QString());
    EXPECT_TRUE(record.attribute(QStringLiteral("WYSBH")).has_value());
    EXPECT_FALSE(record.attribute(QStringLiteral("NOSUCH")).has_value());
    EXPECT_TRUE(records.child(1).isNull());
    EXPECT_TRUE(records.child(-1).isNull());
}

TEST_F(XmlDocumentTest, Gb2312DeclarationWithGbkOnlyCharactersAndTheEuroSign)
{
    // 喆 exists only in GBK; 0x80 is the euro sign of code page 936.
    auto doc = load("<?xml version='1.0' encoding='gb2312'?><R A=\"\x86\xb4\" B=\"\x80\"/>");
    ASSERT_TRUE(doc) << error.toStdString();
    EXPECT_EQ(doc->root().attribute(QStringLiteral("A")), QStringLiteral("喆"));
    EXPECT_EQ(doc->root().attribute(QStringLiteral("B")), QStringLiteral("€"));
    // Other encodings are the parser's own business.
    doc = load("<R A=\"\xe5\x96\x86\"/>");
    ASSERT_TRUE(doc) << error.toStdString();
    EXPECT_EQ(doc->root().attribute(QStringLiteral("A")), QStringLiteral("喆"));
}

TEST_F(XmlDocumentTest, ChildrenCountEveryNodeAndMissingElementsReadAsEmpty)
{
    auto doc = load("<R>text<!--c--><RECORD/><OTHER/></R>");
    ASSERT_TRUE(doc) << error.toStdString();
    XmlNode root = doc->root();
    ASSERT_EQ(root.childCount(), 4);
    EXPECT_EQ(root.child(0).name(), QStringLiteral("#text"));
    EXPECT_EQ(root.child(1).name(), QStringLiteral("#comment"));
    EXPECT_EQ(root.child(2).name(), QStringLiteral("RECORD"));
    EXPECT_FALSE(root.child(0).attribute(QStringLiteral("X")).has_value());

    XmlNode records = root.childElement(QStringLiteral("RECORDS"));
    ASSERT_FALSE(records.isNull());
    EXPECT_EQ(records.name(), QStringLiteral("RECORDS"));
    EXPECT_EQ(records.childCount(), 0);
    // Created once: asking again finds the same, still empty, element.
    EXPECT_EQ(root.childCount(), 5);
    EXPECT_EQ(root.childElement(QStringLiteral("RECORDS")).childCount(), 0);
    EXPECT_EQ(root.childCount(), 5);
    EXPECT_TRUE(XmlNode().childElement(QStringLiteral("X")).isNull());
}

// Damaged or foreign input: a message naming the file, nothing on stderr, no crash.
TEST_F(XmlDocumentTest, BadInputGivesAMessageAndPrintsNothing)
{
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {"", QStringLiteral("line")},
        {"<R A=\"1\"><RECORDS>", QStringLiteral("line 1")},
        {"<?xml version=\"1.0\" encoding=\"GBK\" ?><R A=\"\x81\"/>", QStringLiteral("GBK")},
        {"<R A=\"unescaped & ampersand\"/>", QStringLiteral("line 1")},
        {"<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><R A=\"&x;\"/>", QString()},
        {"<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">]><R A=\"&d;&d;&d;\"/>",
         QString()},
    };
    for (const auto& [bytes, mention] : cases) {
        testing::internal::CaptureStderr();
        auto doc = load(bytes);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(doc) << bytes.constData();
        EXPECT_TRUE(error.startsWith(QStringLiteral("file BFZYXX.xml: "))) << error.toStdString();
        EXPECT_TRUE(error.contains(mention)) << error.toStdString();
        EXPECT_EQ(printed, std::string()) << bytes.constData();
    }
    EXPECT_FALSE(XmlDocument::fromFile(tmp.filePath(QStringLiteral("absent.xml")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("absent.xml"))) << error.toStdString();
    EXPECT_FALSE(XmlDocument::fromBytes(QByteArray(XmlDocument::MaxFileSize + 1, ' '), QStringLiteral("big"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
}

} // namespace
