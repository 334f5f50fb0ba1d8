// SPDX-License-Identifier: MIT
// sjql-host archives: the backup archives of the installation, in the backup folder the module's
// window shows (or --dir) and in the fallback folder, with agent, year, months cleared, rows per
// table, size and date; archives of one agent and year are marked as runs of the same year, and
// years whose cleared months still wait in the work folder are listed as unfinished. --verify adds
// each archive's verdict, as sjql-host verify gives it.
#include "Commands.h"
#include "HostSession.h"
#include "Installation.h"
#include "ModuleTool.h"
#include "PasswordFile.h"

namespace sjql::host {

namespace {

int runArchives(const CommandLine& cl)
{
    // The module reads the installation's settings (the stored backup folder, the sub-application
    // folder) through the host services; no database and no window are needed.
    Installation installation(cl.value(QStringLiteral("home"), Installation::defaultHome()));
    QString error;
    if (!installation.load(&error) || !applyAgentOption(cl, installation, &error))
        return failTool(error, cl.flag(QStringLiteral("json")));
    installation.publish(nullptr, nullptr);
    QJsonObject request{{QStringLiteral("command"), QStringLiteral("archives")},
                        {QStringLiteral("verify"), cl.flag(QStringLiteral("verify"))}};
    if (cl.has(QStringLiteral("dir")))
        request.insert(QStringLiteral("dir"), cl.value(QStringLiteral("dir")));
    std::optional<QString> password;
    if (!passwordFromCommandLine(cl, &password, &error))
        return failTool(error, cl.flag(QStringLiteral("json")));
    if (password)
        request.insert(QStringLiteral("password"), *password);
    return runModuleTool(request, cl.flag(QStringLiteral("json")));
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("archives"),
    .usage = QStringLiteral("--home DIR [--dir DIR] [--verify] [--password-file FILE] [--json] [--agent CODE]"),
    .summary = QStringLiteral("列出备份文件夹和后备文件夹中的备份文件及其内容，以及未完成的年度"),
    .details = QStringLiteral(
        "备份文件夹默认是模块窗口显示的“备份路径”，--dir 指定另一个；后备文件夹是模块的 TEMP 文件夹。\n"
        "每个备份文件一行：archive=<扣缴义务人> <年度> <已清理月份> <各表行数> size=<字节> date=<备份时间> <路径>；\n"
        "同一扣缴义务人同一年度的多个备份文件另有 same_year=<扣缴义务人> <年度> <个数>；\n"
        "工作文件夹中尚未打包的年度为 unfinished=<扣缴义务人> <年度> <月份> <文件夹>；最后一行 result=<摘要>。\n"
        "--verify：再像 verify 一样检查每个备份文件，输出 month=、problem= 和 verdict= 行。\n"
        "--agent CODE：以此安装的另一个扣缴义务人的身份查看（其工作文件夹）。\n"
        "--password-file FILE：AES-256 加密的备份文件的密码（文件第一行，文件权限须为 600）。\n"
        "--json：标准输出只有一个 JSON 文档（格式见 README），其余各行改写到标准错误。\n"
        "退出码：0 完成且没有发现问题；3 有备份文件无法读取或检查出问题；1 无法执行；2 命令行有误。"),
    .valueOptions = {QStringLiteral("dir"), QStringLiteral("agent"), QStringLiteral("password-file")},
    .flagOptions = {QStringLiteral("verify"), QStringLiteral("json")},
    .run = runArchives,
})

} // namespace sjql::host
