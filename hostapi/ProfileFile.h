// SPDX-License-Identifier: MIT
// Profile files ("[section]", "key=value": the Windows ini files), read and written by the rules of
// the Windows profile functions. The one reader of host and module alike, header-only so that each
// library compiles its own hidden copy and neither links the other.
//
// Reading, as GetPrivateProfileString does it:
// - lines end with CR LF, LF or CR; blanks (space, tab, vertical tab) before a line are ignored;
// - a line starting with ';' is a comment; '#' is an ordinary character ("#k=v" is the key "#k");
// - "[name]" starts a section: the name ends at the first ']' (or the line's end), blanks around it
//   are dropped, and anything after the ']' is ignored; keys before the first section belong to none;
// - "name=value" divides at the first '='; blanks around name and value are dropped; a value
//   enclosed in a pair of equal quotation marks (single or double) is read without them, as the
//   Windows documentation of GetPrivateProfileString says; other quotes and a ';' inside the value
//   stay; a line without '=' is a key with an empty value;
// - section and key names match without regard to ASCII case; a GBK character's second byte is
//   never folded, so two Chinese names differ whenever their bytes do;
// - the first of two equal keys in a section wins, and only the first of two equal sections is read.
//
// Writing, as WritePrivateProfileString does it: the key the reader would return is rewritten in
// place ("name=value" with the file's own spelling of the name); a new key goes after the last key
// of the first such section, a new section at the end of the file. Every other byte stays as it was;
// lines written end with CR LF. Values are bytes (GBK on our files) and never converted.
#pragma once

#include "hostapi/FileModes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <optional>
#include <utility>

namespace sjql::profile {

namespace detail {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v';
}

inline QByteArrayView trimmed(QByteArrayView text, bool (*drop)(char) = isBlank)
{
    while (!text.isEmpty() && drop(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && drop(text.back()))
        text.chop(1);
    return text;
}

// Names given by a caller lose their spaces, and only those, as the profile functions do it.
inline QByteArrayView callerName(QByteArrayView name)
{
    return trimmed(name, [](char c) { return c == ' '; });
}

inline char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// ASCII letters compare without regard to case; the two bytes of a GBK character compare exactly
// (its second byte may lie in the range of ASCII letters).
inline bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const auto lead = static_cast<unsigned char>(a[i]);
        if (lead >= 0x81 && lead <= 0xFE && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

enum class LineKind
{
    Other,
    Section,
    Key
};

// One line of the file: where it lies, and what the profile functions make of it.
struct Line
{
    qsizetype begin = 0;
    qsizetype contentEnd = 0; // before the line end
    qsizetype next = 0;       // the start of the next line
    LineKind kind = LineKind::Other;
    QByteArrayView name;  // section or key name, trimmed
    QByteArrayView value; // key value, trimmed
};

// The line that starts at `begin` (< bytes.size()).
inline Line lineAt(const QByteArray& bytes, qsizetype begin)
{
    Line line;
    line.begin = begin;
    qsizetype end = begin;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
        ++end;
    line.contentEnd = end;
    line.next = end;
    if (end < bytes.size()) {
        line.next = end + 1;
        if (bytes[end] == '\r' && line.next < bytes.size() && bytes[line.next] == '\n')
            ++line.next;
    }
    const QByteArrayView text = trimmed(QByteArrayView(bytes).sliced(begin, end - begin));
    if (text.isEmpty() || text.front() == ';')
        return line;
    if (text.front() == '[') {
        const QByteArrayView inside = text.sliced(1);
        const qsizetype close = inside.indexOf(']');
        line.kind = LineKind::Section;
        line.name = trimmed(close < 0 ? inside : inside.first(close));
        return line;
    }
    line.kind = LineKind::Key;
    const qsizetype eq = text.indexOf('=');
    line.name = trimmed(eq < 0 ? text : text.first(eq));
    line.value = eq < 0 ? QByteArrayView() : trimmed(text.sliced(eq + 1));
    return line;
}

// Where a key stands in the file, or would go.
struct Place
{
    bool sectionFound = false;
    std::optional<Line> key;       // the key the reader returns
    qsizetype insertAt = -1;       // after the last key (or the header) of the section
    bool insertNeedsBreak = false; // that line has no line end of its own
};

inline Place find(const QByteArray& bytes, QByteArrayView section, QByteArrayView key)
{
    Place place;
    bool inside = false;
    for (qsizetype at = 0; at < bytes.size();) {
        const Line line = lineAt(bytes, at);
        at = line.next;
        if (line.kind == LineKind::Section) {
            if (inside)
                break; // only the first section of a name is read
            inside = sameName(line.name, section);
            place.sectionFound = inside;
        } else if (line.kind != LineKind::Key || !inside) {
            continue;
        } else if (sameName(line.name, key)) {
            place.key = line;
            return place;
        }
        if (inside) {
            place.insertAt = line.next;
            place.insertNeedsBreak = line.next == line.contentEnd;
        }
    }
    return place;
}

} // namespace detail

// The bytes of one profile file and the profile functions' view of them.
class ProfileText
{
public:
    ProfileText() = default;
    explicit ProfileText(QByteArray bytes) : m_bytes(std::move(bytes)) {}

    const QByteArray& bytes() const { return m_bytes; }

    // The value of `key` in `section`; none when the section or the key is not there.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const
    {
        const detail::Place place = detail::find(m_bytes, detail::callerName(section), detail::callerName(key));
        if (!place.key)
            return std::nullopt;
        QByteArrayView value = place.key->value;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.sliced(1, value.size() - 2);
        return value.toByteArray();
    }

    // Stores `value` under `key` of `section`. False, and nothing changed, when a name or the value
    // holds a line break: it would split the line and put text of the caller's into other keys.
    bool setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
    {
        const auto hasBreak = [](QByteArrayView text) { return text.contains('\r') || text.contains('\n'); };
        if (hasBreak(section) || hasBreak(key) || hasBreak(value))
            return false;
        section = detail::callerName(section);
        key = detail::callerName(key);
        const detail::Place place = detail::find(m_bytes, section, key);
        if (place.key) {
            const detail::Line& line = *place.key;
            const QByteArray text = line.name.toByteArray() + '=' + value.toByteArray() + "\r\n";
            m_bytes.replace(line.begin, line.next - line.begin, text);
            return true;
        }
        const QByteArray entry = key.toByteArray() + '=' + value.toByteArray() + "\r\n";
        if (place.sectionFound) {
            m_bytes.insert(place.insertAt, place.insertNeedsBreak ? "\r\n" + entry : entry);
            return true;
        }
        if (!m_bytes.isEmpty() && !m_bytes.endsWith('\n') && !m_bytes.endsWith('\r'))
            m_bytes += "\r\n";
        m_bytes += '[' + section.toByteArray() + "]\r\n" + entry;
        return true;
    }

private:
    QByteArray m_bytes;
};

// Reads a profile file's bytes: a missing file is an empty one (true); false when it is there but
// cannot be read.
inline bool readFile(const QString& path, ProfileText* text)
{
    *text = ProfileText();
    QFile f(path);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *text = ProfileText(f.readAll());
    return f.error() == QFileDevice::NoError;
}

// Writes the bytes under a temporary name beside `path` and renames it over `path`, so a reader
// sees the old file or the new one, never half of it. A new file is owner-only, an existing one
// keeps its mode. False when that cannot be done; the old file is then left as it was.
inline bool writeFile(const QString& path, const ProfileText& text)
{
    QSaveFile f(path);
    if (!OpenOwnerOnly(f))
        return false;
    f.write(text.bytes());
    return f.commit();
}

} // namespace sjql::profile
