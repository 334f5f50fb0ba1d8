// SPDX-License-Identifier: MIT
// sjql-host info: the installation's paths and the value object the host publishes to the module,
// read back through the services library's own exports.
#include "Commands.h"
#include "Installation.h"
#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QDir>

namespace sjql::host {

namespace {

QString native(const char* gbkPath)
{
    return QDir::toNativeSeparators(fromGbk(gbkPath));
}

int runInfo(const CommandLine& cl)
{
    QString error;
    Installation inst(cl.value(QStringLiteral("home"), Installation::defaultHome()));
    if (!inst.load(&error))
        return fail(error);
    QString connectionError;
    HostConnection* connection = inst.openConnection(&connectionError);
    inst.publish(nullptr, nullptr);

    printValue(QStringLiteral("home"), QDir::toNativeSeparators(inst.home()));
    printValue(QStringLiteral("hostIni"), QDir::toNativeSeparators(inst.hostIni()));
    printValue(QStringLiteral("hostExeDir"), QDir::toNativeSeparators(hostExeDir()));
    printValue(QStringLiteral("sysConfigIni"), QDir::toNativeSeparators(sysConfigIniFile()));
    // Qt's Chinese texts for standard buttons and dialogs; empty when they are not installed.
    printValue(QStringLiteral("qtTranslations"), QDir::toNativeSeparators(chineseTranslationsFile()));
    printValue(QStringLiteral("GetAppPath"), native(GetAppPath()));
    printValue(QStringLiteral("GetCurSubAppCode"), fromGbk(GetCurSubAppCode()));
    printValue(QStringLiteral("GetCurSubAppPath"), native(GetCurSubAppPath()));
    printValue(QStringLiteral("GetCurFuncCode"), fromGbk(GetCurFuncCode()));
    const QByteArray hostCode = toGbk(inst.config.appCode);
    printValue(QStringLiteral("hostAppPath"), native(GetSubAppPath(hostCode.constData())));
    if (inst.config.dbType.compare(QLatin1String("SQLITE"), Qt::CaseInsensitive) == 0)
        printValue(QStringLiteral("database"), QDir::toNativeSeparators(inst.sqliteFile()));
    printValue(QStringLiteral("hostUserConfigFile"), native(GetSubAppUserConfigFile(hostCode.constData())));
    printValue(QStringLiteral("userConfigFile"), QDir::toNativeSeparators(userConfigFile()));
    printValue(QStringLiteral("subAppUserConfigFile"), native(GetSubAppUserConfigFile(GetCurSubAppCode())));
    printValue(QStringLiteral("agents"), inst.config.agentCodes.join(QLatin1Char(',')));
    printValue(QStringLiteral("hideSwitch"), inst.config.hideSwitch ? QStringLiteral("1") : QStringLiteral("0"));

    // The value object, entry by entry, as the module receives it.
    const SjqlValueObject* vo = GetCurSubAppVo();
    for (int32_t i = 0; i < vo->count; ++i) {
        const SjqlVoEntry& e = vo->entries[i];
        const QString name = fromGbk(e.name);
        switch (e.kind) {
        case SJQL_VO_TEXT:
            printValue(name, fromGbk(e.text));
            break;
        case SJQL_VO_BOOL:
            printValue(name, e.flag ? QStringLiteral("true") : QStringLiteral("false"));
            break;
        default:
            if (e.object && e.object == connection)
                printValue(name, QStringLiteral("<HostConnection %1, %2: %3>")
                                     .arg(inst.config.dbType,
                                          connection->connected() ? QStringLiteral("open") : QStringLiteral("closed"),
                                          connection->connectionString()));
            else if (e.object)
                printValue(name, QStringLiteral("<object>"));
            else
                printValue(name, QStringLiteral("<null: %1>").arg(connectionError));
            break;
        }
    }
    return 0;
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("info"),
    .usage = QStringLiteral("--home DIR"),
    .summary = QStringLiteral("以“名称=值”行输出宿主的路径和传给模块的值对象条目"),
    .details = QStringLiteral("路径：home、hostIni、hostExeDir、sysConfigIni、qtTranslations（Qt 的中文翻译文件）、\n"
                              "GetAppPath、GetCurSubAppPath 等；值对象：QVR_KJYWRBM、QVR_SDFY、QVR_DKDJDBType、\n"
                              "QVR_DKDJADOConnection（数据库连接的简短说明）等。"),
    .run = runInfo,
})

} // namespace sjql::host
