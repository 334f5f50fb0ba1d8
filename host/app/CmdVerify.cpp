// SPDX-License-Identifier: MIT
// sjql-host verify: checks backup archives without restoring anything. Each archive is unpacked into
// a temporary folder under the restore's limits, every member's CRC checked, its summary decoded and
// every data file it names read: rows per table, each row's agent and month against the summary,
// each value one the restore writes back unchanged. Prints a line per month ("month=..."), the
// archive's problems ("problem=...") and its verdict ("verdict=sound <path>"), then "result=...".
// Exit 0 when every archive is sound, 3 when one is not, 1 when one could not be checked.
#include "Commands.h"
#include "HostSession.h"
#include "ModuleTool.h"
#include "PasswordFile.h"

#include <QFileInfo>
#include <QJsonArray>

namespace sjql::host {

namespace {

int runVerify(const CommandLine& cl)
{
    if (cl.positional.isEmpty())
        return usageError(QStringLiteral("请给出要检查的备份文件，例如 verify 2019.zip 2020.zip"));
    QString twice;
    const QStringList archives = distinctArchivePaths(cl.positional, &twice);
    if (archives.isEmpty())
        return usageError(QStringLiteral("备份文件%1给了不止一次").arg(quotedPath(twice)));
    const bool json = cl.flag(QStringLiteral("json"));
    for (const QString& a : archives) {
        if (!QFileInfo(a).isFile())
            return failTool(QStringLiteral("备份文件%1不存在").arg(quotedPath(a)), json);
    }
    std::optional<QString> password;
    QString error;
    if (!passwordFromCommandLine(cl, &password, &error))
        return failTool(error, json);
    QJsonObject request{{QStringLiteral("command"), QStringLiteral("verify")},
                        {QStringLiteral("archives"), QJsonArray::fromStringList(archives)}};
    if (password)
        request.insert(QStringLiteral("password"), *password);
    return runModuleTool(request, json);
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("verify"),
    .usage = QStringLiteral("[--json] [--password-file FILE] ARCHIVE..."),
    .summary = QStringLiteral("检查备份文件能否完整恢复（不改动数据库），输出每个月份和每个备份文件的结论"),
    .details = QStringLiteral(
        "按恢复的限制把备份文件解压到临时文件夹，检查每个成员的 CRC，读取备份摘要和它列出的每个数据文件：\n"
        "每张表的行数、每行的扣缴义务人和所属期是否与摘要相符、每个值能否原样写回。\n"
        "输出 month=<所属期> ...、problem=<问题> 和 verdict=<结论> <备份文件>，最后一行 result=<摘要>。\n"
        "结论：sound 完好；damaged 损坏或与摘要不符；refused 内容不可信（名称不安全、成员过多或过大）；\n"
        "wrong-password 密码不对；unreadable 不是可读的 ZIP 文件；unchecked 无法检查（如临时文件夹空间不足）。\n"
        "--json：标准输出只有一个 JSON 文档（格式见 README），其余各行改写到标准错误。\n"
        "--password-file FILE：AES-256 加密的备份文件的密码（文件第一行，文件权限须为 600）；没有它这些文件为 "
        "wrong-password。\n"
        "退出码：0 全部完好；3 至少一个有问题；1 无法检查（备份文件不存在、无法解压到临时文件夹）；2 命令行有误。"),
    .valueOptions = {QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("json")},
    .maxPositional = -1,
    .run = runVerify,
})

} // namespace sjql::host
