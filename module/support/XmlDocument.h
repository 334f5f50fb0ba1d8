// SPDX-License-Identifier: MIT
// Read access to small XML documents over libxml2, as the restore reads the backup summary.
//
// A document is loaded and parsed in one step; the GBK summary (declared "GBK", or "gb2312" while
// holding GBK-only characters) is decoded with the project's GBK codec before parsing. Parsing
// never touches the network, never loads or substitutes external entities, refuses document type
// declarations and prints nothing: every problem becomes one message naming the file.
//
// Nodes are light handles into their document: they stay valid as long as the document lives and
// must not be used after it is destroyed. A document and its nodes belong to one thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct _xmlNode;
struct _xmlDoc;

namespace sjql {

class XmlNode
{
public:
    XmlNode() = default;

    [[nodiscard]] bool isNull() const { return m_node == nullptr; }

    // The node's name: the tag of an element, "#text" for text, "#comment" for a comment.
    [[nodiscard]] QString name() const;

    // An attribute read as text (entity and character references resolved); no value when the
    // attribute is absent or the node is not an element.
    [[nodiscard]] std::optional<QString> attribute(const QString& attributeName) const;

    // Every kind of child node counts (elements, text, comments), in document order.
    [[nodiscard]] int childCount() const;
    // The child at `index`; a null node when out of range.
    [[nodiscard]] XmlNode child(int index) const;

    // The first child element named `elementName`; when there is none an empty one is appended
    // in memory (the file is not touched), so that a missing part reads as an empty one. A null
    // node only when this node is null or not an element.
    XmlNode childElement(const QString& elementName);

private:
    friend class XmlDocument;
    explicit XmlNode(_xmlNode* node) : m_node(node) {}
    _xmlNode* m_node = nullptr;
};

class XmlDocument
{
public:
    // Loads and parses the file. Null, with *error naming the file and the fault ("file
    // BFZYXX.xml: line 1: ..."), when it is missing, unreadable, too large, not valid text in its
    // declared encoding or not well-formed.
    [[nodiscard]] static std::unique_ptr<XmlDocument> fromFile(const QString& fileName, QString* error = nullptr);

    // The same for bytes already in memory; `label` names them in messages.
    [[nodiscard]] static std::unique_ptr<XmlDocument> fromBytes(const QByteArray& bytes, const QString& label,
                                                                QString* error = nullptr);

    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // The document element; null when the document has none.
    [[nodiscard]] XmlNode root() const;

    // Files above this size are refused unread; a summary is a few kilobytes.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

private:
    explicit XmlDocument(_xmlDoc* doc) : m_doc(doc) {}
    _xmlDoc* m_doc = nullptr;
};

} // namespace sjql
