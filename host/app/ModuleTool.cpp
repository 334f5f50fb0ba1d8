// SPDX-License-Identifier: MIT
#include "ModuleTool.h"

#include "HostSession.h"
#include "hostapi/SjqlEntry.h"

#include <QJsonDocument>
#include <QLibrary>

#include <cstdio>

namespace sjql::host {

namespace {

void toolOutput(void* context, int channel, const char* utf8Text)
{
    const bool json = *static_cast<const bool*>(context);
    const QString text = QString::fromUtf8(utf8Text ? utf8Text : "");
    switch (channel) {
    case SJQL_TOOL_LINE:
        if (!json) {
            printLine(text);
            return;
        }
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        std::fflush(stderr);
        return;
    case SJQL_TOOL_DOCUMENT:
        if (json) {
            std::fputs(utf8Text, stdout);
            std::fflush(stdout);
        }
        return;
    default:
        note(text);
        return;
    }
}

} // namespace

int failTool(const QString& message, bool json)
{
    return json ? fail(message) : failRun(message);
}

int runModuleTool(const QJsonObject& request, bool json)
{
    QLibrary library(moduleLibraryPath());
    if (!library.load())
        return fail(QStringLiteral("无法加载模块库%1：%2").arg(quotedPath(moduleLibraryPath()), library.errorString()));
    auto run = reinterpret_cast<SjqlRunToolProc>(library.resolve(SJQL_TOOL_ENTRY_NAME));
    if (!run)
        return fail(QStringLiteral("模块库%1没有入口 %2")
                        .arg(quotedPath(moduleLibraryPath()), QLatin1String(SJQL_TOOL_ENTRY_NAME)));
    const QByteArray text = QJsonDocument(request).toJson(QJsonDocument::Compact);
    bool routeToStderr = json;
    return run(text.constData(), &toolOutput, &routeToStderr);
}

} // namespace sjql::host
