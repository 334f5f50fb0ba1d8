// SPDX-License-Identifier: MIT
#include "context/ModuleContext.h"

#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/HostFolders.h"
#include "hostapi/ModuleLib.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace sjql {

using folders::withSlash;

namespace {

QString& hostExeDirOverride()
{
    static QString folder;
    return folder;
}

// Names match without regard to ASCII case only, byte for byte on the GBK names.
// (Latin-1 folding would pair GBK lead bytes such as 0xC1 and 0xE1, so it is written out here.)
bool sameName(const char* entryName, const QByteArray& wanted)
{
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c); };
    qsizetype i = 0;
    for (; i < wanted.size(); ++i) {
        const char c = entryName[i];
        if (c == '\0' || lower(static_cast<unsigned char>(c)) != lower(static_cast<unsigned char>(wanted[i])))
            return false;
    }
    return entryName[i] == '\0';
}

// Asks the host for its value object and finds the first entry of `name`; null when none.
const SjqlVoEntry* findEntry(const QString& name)
{
    const SjqlValueObject* vo = GetCurSubAppVo();
    if (!vo || !vo->entries)
        return nullptr;
    const QByteArray wanted = toGbk(name);
    for (int32_t i = 0; i < vo->count; ++i) {
        if (sameName(vo->entries[i].name, wanted))
            return &vo->entries[i];
    }
    return nullptr;
}

} // namespace

QString GetVoString(const QString& name, const QString& defaultValue)
{
    const SjqlVoEntry* e = findEntry(name);
    if (!e || e->kind != SJQL_VO_TEXT || !e->text)
        return defaultValue;
    return fromGbk(e->text);
}

bool GetVoBool(const QString& name, bool defaultValue)
{
    const SjqlVoEntry* e = findEntry(name);
    if (!e || e->kind != SJQL_VO_BOOL)
        return defaultValue;
    return e->flag != 0;
}

void* GetVoObject(const QString& name, void* defaultValue)
{
    const SjqlVoEntry* e = findEntry(name);
    if (!e || e->kind != SJQL_VO_OBJECT)
        return defaultValue;
    return e->object;
}

QString GetAgentCode()
{
    return GetVoString(QStringLiteral("QVR_KJYWRBM"));
}

QString GetCurrentPeriod()
{
    return GetVoString(QStringLiteral("QVR_SDFY"));
}

HostConnection* GetHostConnection()
{
    return static_cast<HostConnection*>(GetVoObject(QStringLiteral("QVR_DKDJADOConnection")));
}

QString GetDBTypeName()
{
    return GetVoString(QStringLiteral("QVR_DKDJDBType"));
}

QString GetHostAppCode()
{
    return GetVoString(QStringLiteral("QVR_DKDJAPPCODE"));
}

bool IsStopRequested()
{
    return GetVoBool(QStringLiteral("QVR_STOPREQUEST"), false);
}

bool IsModuleEnabled()
{
    return GetVoBool(QStringLiteral("QVR_DKDJENABLE"), false);
}

QString GetInitErrorText()
{
    return GetVoString(QStringLiteral("QVR_DKDJINITERROR"));
}

TDBKind GetDBKind()
{
    return DBKindFromTypeName(GetDBTypeName());
}

QString GetModuleDir()
{
    // The library this function lives in: libsjql.so when loaded by a host, the program itself
    // when a test links the context statically.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&GetModuleDir), &info) == 0 || !info.dli_fname)
        return withSlash(QDir::currentPath());
    const QString file = QFile::decodeName(info.dli_fname);
    return withSlash(QFileInfo(file).absolutePath());
}

QString GetHostExePath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, qsizetype(n)));
}

QString GetHostExeDir()
{
    if (!hostExeDirOverride().isEmpty())
        return withSlash(hostExeDirOverride());
    const QString seam = folders::hostExeDirFromEnvironment();
    if (!seam.isEmpty())
        return seam;
    const QString exe = GetHostExePath();
    return exe.isEmpty() ? QString() : withSlash(QFileInfo(exe).absolutePath());
}

QString GetUserConfigDir()
{
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString GetUserDataDir()
{
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

bool IsFolderWritable(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(withSlash(folder) + QStringLiteral(".sjql-probe-XXXXXX"));
    return probe.open(); // removed again when `probe` goes
}

QString GetSysConfigIniPath()
{
    const QString besideHost = GetHostExeDir() + QStringLiteral("SysConfig.ini");
    if (QFileInfo::exists(besideHost))
        return besideHost;
    return GetUserConfigDir() + QStringLiteral("SysConfig.ini");
}

void SetHostExeDirOverride(const QString& folder)
{
    hostExeDirOverride() = folder;
}

} // namespace sjql
