// SPDX-License-Identifier: MIT
#include "IniStore.h"

#include "hostapi/ProfileFile.h"

#include <QDir>
#include <QFileInfo>

namespace sjql::host::ini {

QByteArray read(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue)
{
    profile::ProfileText text;
    if (!profile::readFile(file, &text))
        return defaultValue;
    return text.value(section, key).value_or(defaultValue);
}

bool write(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    profile::ProfileText text;
    // A file that is there but cannot be read is not replaced by one holding this key alone.
    if (!profile::readFile(file, &text) || !text.setValue(section, key, value))
        return false;
    MakeOwnerOnlyPath(QFileInfo(file).absolutePath());
    return profile::writeFile(file, text);
}

} // namespace sjql::host::ini
