// SPDX-License-Identifier: MIT
#include "support/XmlDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

namespace sjql {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

const xmlChar* xmlText(const QByteArray& utf8)
{
    return reinterpret_cast<const xmlChar*>(utf8.constData());
}

QString fromXml(const xmlChar* text)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(text));
}

// Takes libxml2's messages for the duration of one parse, on this thread, so that nothing is
// printed to stderr; the parser context keeps the first error for the message we return.
class QuietErrors
{
public:
    QuietErrors() : m_previous(xmlStructuredError), m_previousContext(xmlStructuredErrorContext)
    {
        xmlSetStructuredErrorFunc(nullptr, &QuietErrors::ignore);
    }
    ~QuietErrors() { xmlSetStructuredErrorFunc(m_previousContext, m_previous); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    static void ignore(void*, xmlErrorPtr) {}
    xmlStructuredErrorFunc m_previous;
    void* m_previousContext;
};

// The encoding named by the XML declaration, lower-cased; empty without one. Every encoding we
// look for is ASCII-compatible, so the bytes can be searched as Latin-1.
QString declaredEncoding(const QByteArray& bytes)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*<\\?xml[^>]*?\\bencoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)[\"']"));
    const QString head = QString::fromLatin1(bytes.left(256));
    const QRegularExpressionMatch match = pattern.match(head);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

// Names under which the summary's code page appears. gb2312 is read as GBK too: Windows writes
// GBK-only characters into files that claim gb2312.
bool isGbkFamily(const QString& encoding)
{
    static const QStringList names = {
        QStringLiteral("gbk"),     QStringLiteral("gb2312"),      QStringLiteral("cp936"),  QStringLiteral("x-gbk"),
        QStringLiteral("ms936"),   QStringLiteral("windows-936"), QStringLiteral("euc-cn"), QStringLiteral("csgb2312"),
        QStringLiteral("gb_2312"), QStringLiteral("gb_2312-80")};
    return names.contains(encoding);
}

} // namespace

QString XmlNode::name() const
{
    if (!m_node)
        return QString();
    // The DOM names of character data, so that no such node can pass for an element.
    switch (m_node->type) {
    case XML_TEXT_NODE:
        return QStringLiteral("#text");
    case XML_CDATA_SECTION_NODE:
        return QStringLiteral("#cdata-section");
    case XML_COMMENT_NODE:
        return QStringLiteral("#comment");
    default:
        return fromXml(m_node->name);
    }
}

std::optional<QString> XmlNode::attribute(const QString& attributeName) const
{
    if (!m_node || m_node->type != XML_ELEMENT_NODE)
        return std::nullopt;
    const QByteArray key = attributeName.toUtf8();
    if (!xmlHasProp(m_node, xmlText(key)))
        return std::nullopt;
    xmlChar* value = xmlGetProp(m_node, xmlText(key));
    const QString text = value ? fromXml(value) : QString(QLatin1String(""));
    xmlFree(value);
    return text;
}

int XmlNode::childCount() const
{
    int count = 0;
    for (xmlNode* child = m_node ? m_node->children : nullptr; child; child = child->next)
        ++count;
    return count;
}

XmlNode XmlNode::child(int index) const
{
    if (index < 0)
        return XmlNode();
    xmlNode* child = m_node ? m_node->children : nullptr;
    for (; child && index > 0; child = child->next)
        --index;
    return XmlNode(child);
}

XmlNode XmlNode::childElement(const QString& elementName)
{
    if (!m_node || m_node->type != XML_ELEMENT_NODE)
        return XmlNode();
    const QByteArray key = elementName.toUtf8();
    for (xmlNode* child = m_node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, xmlText(key)))
            return XmlNode(child);
    }
    return XmlNode(xmlNewChild(m_node, nullptr, xmlText(key), nullptr));
}

std::unique_ptr<XmlDocument> XmlDocument::fromFile(const QString& fileName, QString* error)
{
    const QString label = QStringLiteral("file %1").arg(QFileInfo(fileName).fileName());
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile()) {
        setError(error, QStringLiteral("%1: does not exist").arg(label));
        return nullptr;
    }
    if (file.size() > MaxFileSize) {
        setError(error, QStringLiteral("%1: %2 bytes is too large").arg(label).arg(file.size()));
        return nullptr;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("%1: cannot be read: %2").arg(label, file.errorString()));
        return nullptr;
    }
    return fromBytes(file.read(MaxFileSize + 1), label, error);
}

std::unique_ptr<XmlDocument> XmlDocument::fromBytes(const QByteArray& bytes, const QString& label, QString* error)
{
    if (bytes.size() > MaxFileSize) {
        setError(error, QStringLiteral("%1: %2 bytes is too large").arg(label).arg(bytes.size()));
        return nullptr;
    }
    // GBK text goes through our own codec, which maps the code page the way Windows does; the
    // parser then reads UTF-8 and ignores the declared name.
    QByteArray input = bytes;
    const char* encoding = nullptr;
    int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    if (isGbkFamily(declaredEncoding(bytes))) {
        QStringDecoder gbk("GBK");
        const QString text = gbk.decode(bytes);
        if (gbk.hasError()) {
            setError(error, QStringLiteral("%1: not valid GBK text").arg(label));
            return nullptr;
        }
        input = text.toUtf8();
        encoding = "UTF-8";
        options |= XML_PARSE_IGNORE_ENC;
    }

    xmlInitParser();
    QuietErrors quiet;
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        setError(error, QStringLiteral("%1: out of memory").arg(label));
        return nullptr;
    }
    const QByteArray url = label.toUtf8();
    xmlDocPtr doc =
        xmlCtxtReadMemory(context, input.constData(), int(input.size()), url.constData(), encoding, options);
    if (!doc) {
        const xmlError* last = xmlCtxtGetLastError(context);
        const QString reason = last && last->message
                                   ? fromXml(reinterpret_cast<const xmlChar*>(last->message)).trimmed()
                                   : QStringLiteral("not well-formed");
        setError(error, QStringLiteral("%1: line %2: %3").arg(label).arg(last ? last->line : 0).arg(reason));
        xmlFreeParserCtxt(context);
        return nullptr;
    }
    xmlFreeParserCtxt(context);
    std::unique_ptr<XmlDocument> document(new XmlDocument(doc));
    // A summary has no use for a DTD; refusing one keeps entity tricks out of attribute reads.
    if (doc->intSubset || doc->extSubset) {
        setError(error, QStringLiteral("%1: document type declarations are not accepted").arg(label));
        return nullptr;
    }
    return document;
}

XmlDocument::~XmlDocument()
{
    xmlFreeDoc(m_doc);
}

XmlNode XmlDocument::root() const
{
    return XmlNode(xmlDocGetRootElement(m_doc));
}

} // namespace sjql
