// SPDX-License-Identifier: MIT
// A profile file of the Windows kind ("[section]", "key=value", CRLF), read and written as bytes.
//
// Sections and keys match without regard to ASCII case (as GetPrivateProfileString does); values are
// the file's bytes, so GBK texts survive unchanged. Values are read with surrounding blanks removed.
// Nothing here throws; a missing or unreadable file reads as empty.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace sjql {

class IniFile
{
public:
    IniFile();
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Reads `path`; false (and an empty ini) when it exists but cannot be read or parsed. A missing
    // file is an empty ini and gives true.
    [[nodiscard]] bool load(const QString& path);
    [[nodiscard]] bool loadData(const QByteArray& bytes);

    bool contains(const QByteArray& section, const QByteArray& key) const;
    QByteArray value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue = {}) const;
    void setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);

    // The file's bytes as Windows writes them: "key=value", CRLF line ends.
    QByteArray toBytes() const;
    // Writes the bytes under a temporary name and renames it over `path`. False when it cannot.
    [[nodiscard]] bool save(const QString& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// One value of an ini file, GBK bytes decoded to text; `defaultValue` when the file or key is missing.
// Opens the file, reads the value, closes it: nothing is cached.
QString readIniText(const QString& path, const QString& section, const QString& key, const QString& defaultValue);

} // namespace sjql
