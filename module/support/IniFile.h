// SPDX-License-Identifier: MIT
// A settings file of the Windows kind ("[section]", "key=value", CRLF), read and written as bytes by
// the rules of the Windows profile functions (hostapi/ProfileFile.h states them: the first of two
// equal keys or sections wins, names match without regard to ASCII case, only ';' lines are
// comments, values keep their quotes). Values are the file's bytes, so GBK texts survive unchanged.
// Nothing here throws; a missing file reads as empty.
#pragma once

#include "hostapi/ProfileFile.h"

#include <QByteArray>
#include <QString>

namespace sjql {

class IniFile
{
public:
    // Reads `path`; false (and an empty ini) when it exists but cannot be read. A missing file is an
    // empty ini and gives true.
    [[nodiscard]] bool load(const QString& path);
    // Takes the file's bytes as they are; every text is a valid profile file, so this gives true.
    [[nodiscard]] bool loadData(const QByteArray& bytes);

    bool contains(const QByteArray& section, const QByteArray& key) const;
    QByteArray value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue = {}) const;
    // Stores the value as WritePrivateProfileString would; false (nothing changed) when a name or
    // the value holds a line break.
    bool setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);

    // The file's bytes: what was read, with the changes made in place ("key=value", CRLF).
    QByteArray toBytes() const;
    // Writes the bytes under a temporary name and renames it over `path`. False when it cannot.
    [[nodiscard]] bool save(const QString& path) const;

private:
    profile::ProfileText m_text;
};

// One value of an ini file, GBK bytes decoded to text; `defaultValue` when the file or key is missing.
// Opens the file, reads the value, closes it: nothing is cached.
QString readIniText(const QString& path, const QString& section, const QString& key, const QString& defaultValue);

} // namespace sjql
