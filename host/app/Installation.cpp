// SPDX-License-Identifier: MIT
#include "Installation.h"

#include "host/services/HostServicesAdmin.h"
#include "hostapi/FileModes.h"
#include "hostapi/HostFolders.h"
#include "hostapi/SjqlEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace sjql::host {

using folders::withSlash;

namespace {

const QString kSection = QStringLiteral("Host");

// host.ini is the host's own file: UTF-8, one [Host] section of key=value lines.
QMap<QString, QString> readKeyValues(const QByteArray& bytes)
{
    QMap<QString, QString> values;
    QString section;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && section.compare(kSection, Qt::CaseInsensitive) == 0)
            values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return values;
}

// Tried with a probe file: permission bits do not tell root about read-only mounts or immutable
// folders.
bool folderIsWritable(const QString& folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(withSlash(folder) + QStringLiteral(".sjql-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString hostExeDir()
{
    const QString seam = folders::hostExeDirFromEnvironment();
    return seam.isEmpty() ? withSlash(QCoreApplication::applicationDirPath()) : seam;
}

QString hostLibraryDir()
{
    const QString exeDir = withSlash(QCoreApplication::applicationDirPath());
    if (QFileInfo::exists(exeDir + QLatin1String(SJQL_MODULE_LIBRARY_NAME)))
        return exeDir;
    return withSlash(QDir::cleanPath(exeDir + QLatin1String(SJQL_HOST_LIBRARY_DIR_FROM_EXE)));
}

QString userConfigDir()
{
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString sysConfigIniFile()
{
    const QString name = QStringLiteral("SysConfig.ini");
    const QString besideHost = hostExeDir() + name;
    const QString ofUser = userConfigDir() + name;
    if (QFileInfo::exists(besideHost))
        return besideHost;
    if (QFileInfo::exists(ofUser))
        return ofUser;
    // The test seam may name a folder that is not there yet.
    MakeOwnerOnlyPath(hostExeDir());
    return folderIsWritable(hostExeDir()) ? besideHost : ofUser;
}

bool ensureSysConfigIni(bool* created, QString* error)
{
    *created = false;
    const QString file = sysConfigIniFile();
    if (QFileInfo::exists(file))
        return true;
    MakeOwnerOnlyPath(QFileInfo(file).absolutePath());
    QSaveFile f(file);
    if (!OpenOwnerOnly(f)) {
        *error = QStringLiteral("%1: %2").arg(file, f.errorString());
        return false;
    }
    // The section is spelled "SysCofig", as the module reads it; CRLF like every Windows ini file.
    f.write("[SysCofig]\r\nSupportPhone=400-889-0123\r\n");
    if (!f.commit()) {
        *error = QStringLiteral("%1: %2").arg(file, f.errorString());
        return false;
    }
    *created = true;
    return true;
}

QString Installation::defaultHome()
{
    const QByteArray env = qgetenv("SJQL_HOST_HOME");
    if (!env.isEmpty())
        return QFile::decodeName(env);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/sjql-host");
}

Installation::Installation(const QString& home) : m_home(withSlash(QDir(home).absolutePath())) {}

Installation::~Installation() = default;

QString Installation::hostIni() const
{
    return m_home + QStringLiteral("host.ini");
}

QString Installation::appFolder(const QString& code) const
{
    return m_home + QStringLiteral("Apps/") + code + QLatin1Char('/');
}

QString Installation::sqliteFile() const
{
    return appFolder(config.appCode) + QStringLiteral("Data/Data.db");
}

QString Installation::userFolder() const
{
    return m_home + QStringLiteral("Users/") + config.userName + QLatin1Char('/');
}

bool Installation::exists() const
{
    return QFileInfo::exists(hostIni());
}

bool Installation::load(QString* error)
{
    QFile f(hostIni());
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("“%1”中没有安装（%2），请先用 sjql-host init --home %1 创建")
                     .arg(QDir::toNativeSeparators(m_home), f.errorString());
        return false;
    }
    const QMap<QString, QString> v = readKeyValues(f.readAll());
    HostConfig c;
    c.appCode = v.value(QStringLiteral("AppCode"), c.appCode);
    c.subAppCode = v.value(QStringLiteral("SubAppCode"), c.subAppCode);
    c.funcCode = v.value(QStringLiteral("FuncCode"), c.funcCode);
    c.userName = v.value(QStringLiteral("UserName"), c.userName);
    c.agentCode = v.value(QStringLiteral("AgentCode"));
    c.agentCodes = v.value(QStringLiteral("Agents")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    c.period = v.value(QStringLiteral("Period"));
    c.dbType = v.value(QStringLiteral("DBType"), c.dbType);
    c.dbUrl = v.value(QStringLiteral("DBUrl"));
    c.enable = v.value(QStringLiteral("Enable"), QStringLiteral("1")) != QLatin1String("0");
    c.initError = v.value(QStringLiteral("InitError"));
    c.hideSwitch = v.value(QStringLiteral("HideSwitch"), QStringLiteral("1")) != QLatin1String("0");
    config = c;
    return true;
}

bool Installation::save(QString* error) const
{
    const HostConfig& c = config;
    QString text;
    text += QStringLiteral("; sjql-host installation: the host's configuration (UTF-8).\n");
    text += QStringLiteral("[Host]\n");
    const auto put = [&text](const char* key, const QString& value) {
        text += QLatin1String(key) + QLatin1Char('=') + value + QLatin1Char('\n');
    };
    put("AppCode", c.appCode);
    put("SubAppCode", c.subAppCode);
    put("FuncCode", c.funcCode);
    put("UserName", c.userName);
    put("AgentCode", c.agentCode);
    put("Agents", c.agentCodes.join(QLatin1Char(',')));
    put("Period", c.period);
    put("DBType", c.dbType);
    put("DBUrl", c.dbUrl);
    put("Enable", c.enable ? QStringLiteral("1") : QStringLiteral("0"));
    put("InitError", c.initError);
    put("HideSwitch", c.hideSwitch ? QStringLiteral("1") : QStringLiteral("0"));
    // It may hold the database's address with a password.
    QSaveFile f(hostIni());
    if (!OpenOwnerOnly(f)) {
        *error = QStringLiteral("%1: %2").arg(hostIni(), f.errorString());
        return false;
    }
    f.write(text.toUtf8());
    if (!f.commit()) {
        *error = QStringLiteral("%1: %2").arg(hostIni(), f.errorString());
        return false;
    }
    return true;
}

bool Installation::createFolders(QString* error) const
{
    const QStringList folders = {m_home, appFolder(config.appCode) + QStringLiteral("Data"),
                                 appFolder(config.subAppCode), userFolder()};
    for (const QString& folder : folders) {
        if (!MakeOwnerOnlyPath(folder)) {
            *error = QStringLiteral("无法创建文件夹“%1”").arg(folder);
            return false;
        }
    }
    return true;
}

DatabaseLocation Installation::databaseLocation() const
{
    DatabaseLocation where;
    where.typeName = config.dbType.toUpper();
    where.sqliteFile = sqliteFile();
    where.url = config.dbUrl;
    return where;
}

HostConnection* Installation::openConnection(QString* error)
{
    m_connection = openHostConnection(databaseLocation(), error);
    return m_connection.get();
}

void Installation::closeConnection()
{
    m_connection.reset();
}

void Installation::publish(QWidget* mainFrame, QWidget* appWindow) const
{
    HostState& s = state();
    s.homeDir = m_home;
    s.appPath = hostExeDir();
    s.curSubAppCode = config.subAppCode;
    s.curFuncCode = config.funcCode;
    s.userName = config.userName;
    s.mainFrame = mainFrame;
    s.appWindow = appWindow;
    s.gsMainFrameParentForm = mainFrame;

    const auto text = [](const char* name, const QString& value) {
        VoEntry e;
        e.name = QLatin1String(name);
        e.kind = VoEntry::Text;
        e.text = value;
        return e;
    };
    VoEntry connectionCell;
    connectionCell.name = QStringLiteral("QVR_DKDJADOConnection");
    connectionCell.kind = VoEntry::Object;
    connectionCell.object = m_connection.get();
    VoEntry enable;
    enable.name = QStringLiteral("QVR_DKDJENABLE");
    enable.kind = VoEntry::Bool;
    enable.flag = config.enable;
    // Present from the start and false; setStopRequested turns it on during a run.
    VoEntry stop;
    stop.name = QLatin1String(kStopRequestEntry);
    stop.kind = VoEntry::Bool;
    stop.flag = false;

    s.valueObject = {
        text("QVR_KJYWRBM", config.agentCode),
        text("QVR_SDFY", config.period),
        connectionCell,
        text("QVR_DKDJDBType", config.dbType),
        text("QVR_DKDJAPPCODE", config.appCode),
        enable,
        text("QVR_DKDJINITERROR", config.initError),
        stop,
    };
}

bool setStopRequested(bool requested)
{
    // The services hand the module a fresh value object as soon as an entry changed.
    for (VoEntry& e : state().valueObject) {
        if (e.name == QLatin1String(kStopRequestEntry) && e.kind == VoEntry::Bool) {
            e.flag = requested;
            return true;
        }
    }
    return false;
}

} // namespace sjql::host
