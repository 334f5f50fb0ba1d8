// SPDX-License-Identifier: MIT
#include "support/IniFile.h"

#include "hostapi/Gbk.h"

namespace sjql {

bool IniFile::load(const QString& path)
{
    return profile::readFile(path, &m_text);
}

bool IniFile::loadData(const QByteArray& bytes)
{
    m_text = profile::ProfileText(bytes);
    return true;
}

bool IniFile::contains(const QByteArray& section, const QByteArray& key) const
{
    return m_text.value(section, key).has_value();
}

QByteArray IniFile::value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const
{
    return m_text.value(section, key).value_or(defaultValue);
}

bool IniFile::setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    return m_text.setValue(section, key, value);
}

QByteArray IniFile::toBytes() const
{
    return m_text.bytes();
}

bool IniFile::save(const QString& path) const
{
    return profile::writeFile(path, m_text);
}

QString readIniText(const QString& path, const QString& section, const QString& key, const QString& defaultValue)
{
    IniFile ini;
    if (!ini.load(path))
        return defaultValue;
    const QByteArray s = toGbk(section);
    const QByteArray k = toGbk(key);
    if (!ini.contains(s, k))
        return defaultValue;
    return fromGbk(QByteArrayView(ini.value(s, k)));
}

} // namespace sjql
