// SPDX-License-Identifier: MIT
#include "support/IniFile.h"

#include "hostapi/Gbk.h"

#include <QFile>
#include <QSaveFile>

// SimpleIni header-only: no conversion (bytes stay GBK), its implementation in this unit only.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <string>

namespace sjql {

struct IniFile::Impl
{
    CSimpleIniA ini;
};

IniFile::IniFile() : d(std::make_unique<Impl>())
{
    d->ini.SetSpaces(false);
}

IniFile::~IniFile() = default;

bool IniFile::load(const QString& path)
{
    d->ini.Reset();
    QFile f(path);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return loadData(f.readAll());
}

bool IniFile::loadData(const QByteArray& bytes)
{
    d->ini.Reset();
    if (d->ini.LoadData(bytes.constData(), size_t(bytes.size())) < 0) {
        d->ini.Reset();
        return false;
    }
    return true;
}

bool IniFile::contains(const QByteArray& section, const QByteArray& key) const
{
    return d->ini.GetValue(section.constData(), key.constData(), nullptr) != nullptr;
}

QByteArray IniFile::value(const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue) const
{
    const char* v = d->ini.GetValue(section.constData(), key.constData(), nullptr);
    return v ? QByteArray(v) : defaultValue;
}

void IniFile::setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    d->ini.SetValue(section.constData(), key.constData(), value.constData());
}

QByteArray IniFile::toBytes() const
{
    std::string text;
    if (d->ini.Save(text) < 0)
        return QByteArray();
    // SimpleIni ends lines with LF on this platform; profile files use CRLF.
    QByteArray out;
    out.reserve(qsizetype(text.size() + text.size() / 8));
    for (char c : text) {
        if (c == '\n')
            out.append('\r');
        out.append(c);
    }
    return out;
}

bool IniFile::save(const QString& path) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(toBytes());
    return f.commit();
}

QString readIniText(const QString& path, const QString& section, const QString& key, const QString& defaultValue)
{
    IniFile ini;
    if (!ini.load(path))
        return defaultValue;
    const QByteArray k = toGbk(key);
    const QByteArray s = toGbk(section);
    if (!ini.contains(s, k))
        return defaultValue;
    return fromGbk(QByteArrayView(ini.value(s, k)));
}

} // namespace sjql
