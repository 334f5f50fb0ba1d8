// SPDX-License-Identifier: MIT
// SjqlRunTool: the scripted tools of the host that need the module's code but no window. The request
// names the tool; each tool reports through the output callback and returns its exit code.
#include "entry/PlanTools.h"
#include "hostapi/SjqlEntry.h"
#include "jobs/ArchiveInventory.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <exception>
#include <functional>

namespace sjql {

namespace {

struct Output
{
    SjqlToolOutput callback;
    void* context;

    void operator()(int channel, const QString& text) const
    {
        if (callback)
            callback(context, channel, text.toUtf8().constData());
    }
    void operator()(int channel, const QByteArray& text) const
    {
        if (callback)
            callback(context, channel, text.constData());
    }
};

int finish(const RunReport& report, const Output& out)
{
    out(SJQL_TOOL_DOCUMENT, RunReportText(report));
    return report.exitCode;
}

// The password of AES-256 archives, when the request gives one ("password").
std::optional<QString> strongPasswordOf(const QJsonObject& request)
{
    const QJsonValue value = request.value(QStringLiteral("password"));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

int runVerify(const QJsonObject& request, const Output& out)
{
    QStringList archives;
    for (const QJsonValue& v : request.value(QStringLiteral("archives")).toArray())
        archives << v.toString();
    if (archives.isEmpty()) {
        out(SJQL_TOOL_NOTE, QStringLiteral("没有给出要检查的备份文件"));
        return 2;
    }
    return finish(VerifyArchives(
                      archives, [&](const QString& line) { out(SJQL_TOOL_LINE, line); }, strongPasswordOf(request)),
                  out);
}

int runArchives(const QJsonObject& request, const Output& out)
{
    ArchiveListing listing = DefaultArchiveListing();
    if (const QString dir = request.value(QStringLiteral("dir")).toString(); !dir.isEmpty()) {
        if (!QFileInfo(dir).isDir()) {
            out(SJQL_TOOL_NOTE, QStringLiteral("文件夹“%1”不存在").arg(dir));
            return 1;
        }
        listing.backupFolder = dir;
    }
    listing.verify = request.value(QStringLiteral("verify")).toBool();
    listing.strongPassword = strongPasswordOf(request);
    return finish(ListArchives(listing, [&](const QString& line) { out(SJQL_TOOL_LINE, line); }), out);
}

// The dry runs' plans and the reports' accounting: one JSON answer each.
int runPlan(const QJsonObject& request, const Output& out)
{
    const QJsonObject answer = AnswerPlanRequest(request);
    out(SJQL_TOOL_DOCUMENT, QJsonDocument(answer).toJson(QJsonDocument::Compact));
    return answer.value(QStringLiteral("ok")).toBool() ? 0 : 1;
}

// The tools by name.
const std::pair<const char*, int (*)(const QJsonObject&, const Output&)> kTools[] = {
    {"verify", &runVerify},     {"archives", &runArchives}, {"clear-plan", &runPlan},
    {"restore-plan", &runPlan}, {"month-rows", &runPlan},   {"archive-rows", &runPlan},
};

} // namespace

} // namespace sjql

extern "C" __attribute__((visibility("default"))) int SjqlRunTool(const char* request, SjqlToolOutput output,
                                                                  void* context)
{
    using namespace sjql;
    const Output out{output, context};
    try {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(request ? request : ""), &parseError);
        if (!doc.isObject()) {
            out(SJQL_TOOL_NOTE, QStringLiteral("工具请求不是 JSON 对象：%1").arg(parseError.errorString()));
            return 2;
        }
        const QString command = doc.object().value(QStringLiteral("command")).toString();
        for (const auto& [name, run] : kTools) {
            if (command == QLatin1String(name))
                return run(doc.object(), out);
        }
        out(SJQL_TOOL_NOTE, QStringLiteral("模块没有工具“%1”").arg(command));
        return 2;
    } catch (const std::exception& e) {
        out(SJQL_TOOL_NOTE, QStringLiteral("意外的错误：%1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}
