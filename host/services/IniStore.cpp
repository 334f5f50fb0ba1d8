// SPDX-License-Identifier: MIT
#include "IniStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// SimpleIni is header-only here: no conversion (bytes stay GBK), implementation in this unit only.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <string>

namespace sjql::host::ini {

namespace {

// Loads the file into `ini`; a missing file is an empty ini.
bool load(CSimpleIniA& ini, const QString& file)
{
    QFile f(file);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    return ini.LoadData(bytes.constData(), size_t(bytes.size())) >= 0;
}

} // namespace

QByteArray read(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue)
{
    CSimpleIniA ini;
    if (!load(ini, file))
        return defaultValue;
    const char* value = ini.GetValue(section.constData(), key.constData(), nullptr);
    return value ? QByteArray(value) : defaultValue;
}

bool write(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& value)
{
    CSimpleIniA ini;
    ini.SetSpaces(false);
    if (!load(ini, file))
        return false;
    if (ini.SetValue(section.constData(), key.constData(), value.constData()) < 0)
        return false;
    std::string text;
    if (ini.Save(text) < 0)
        return false;
    // SimpleIni writes LF on Linux; Windows profile files use CRLF.
    QByteArray out;
    out.reserve(qsizetype(text.size() + text.size() / 8));
    for (char c : text) {
        if (c == '\n')
            out.append('\r');
        out.append(c);
    }
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(out);
    return f.commit();
}

} // namespace sjql::host::ini
