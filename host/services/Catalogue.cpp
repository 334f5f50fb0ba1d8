// SPDX-License-Identifier: MIT
// The host's message catalogue: the texts of the cleanup module's result lines and questions.
#include "HostServicesAdmin.h"
#include "hostapi/Gbk.h"

#include <QList>

namespace sjql::host {

namespace {

struct CatalogueEntry
{
    int number;
    const char16_t* text;      // "%1", "%2": the parameters in order
    const char16_t* whenEmpty; // used instead when every parameter is empty (may be null)
};

// Codes 14012001 to 14012008 belong to backup-and-clear, 14012009 to 14012021 to restore.
constexpr CatalogueEntry kCatalogue[] = {
    {14012001, u"请至少勾选一个需要清理的年度。", nullptr},
    {14012002,
     u"系统将先把所选年度的历史数据备份到“备份路径”下，再从数据库中清理。清理后的数据只能通过“数据恢复”找回。"
     u"确定要备份并清理所选年度的数据吗？",
     nullptr},
    {14012003, u"以上月份的申报状态异常，继续清理后这些月份的数据将无法在系统中查询。是否继续备份清理？", nullptr},
    {14012004, u"所属期[%1]：%2。", nullptr},
    {14012005, u"所属期[%1]的数据清理失败：%2", nullptr},
    {14012006, u"%1年度的数据已备份并清理，备份文件：%2", nullptr},
    {14012007, u"%1年度的数据已备份并清理。备份路径无法写入，备份文件已另存为：%2", nullptr},
    {14012008, u"%1年度的备份文件无法写入备份路径，也无法写入临时文件夹，备份清理已中止。", nullptr},
    {14012009, u"备份文件[%1]无法解压，可能已损坏，或不是本系统生成的备份文件。", nullptr},
    {14012010, u"备份文件[%1]中没有备份摘要信息（BFZYXX.xml），不能恢复。", nullptr},
    {14012011, u"备份摘要信息无法读取，数据恢复已中止。", nullptr},
    {14012012, u"备份文件不属于当前扣缴义务人，数据恢复已中止。", nullptr},
    {14012013, u"备份摘要信息中缺少备份年度，数据恢复已中止。", nullptr},
    {14012014, u"备份文件不是由当前系统生成的，数据恢复已中止。", nullptr},
    {14012015, u"所属期[%1]在备份后已重新申报，申报编号不一致，该月数据不予恢复。", nullptr},
    {14012016, u"所属期[%1]的数据恢复失败。", nullptr},
    {14012017, u"所属期[%1]的正常工资薪金备份数据文件缺失，该月数据未恢复。", nullptr},
    {14012018, u"所属期[%1]的非正常工资薪金备份数据文件缺失，该月数据未能完整恢复。", nullptr},
    {14012019, u"所属期[%1]的扣缴所得税报告表备份数据文件缺失，该月数据未能完整恢复。", nullptr},
    {14012020, u"数据恢复完成，已恢复的所属期：%1。", u"数据恢复完成，没有需要恢复的所属期。"},
    {14012021, u"备份摘要信息中有所属期为空的记录，数据恢复已中止，本备份文件的数据未恢复。", nullptr},
};

const CatalogueEntry* findEntry(int number)
{
    for (const CatalogueEntry& e : kCatalogue) {
        if (e.number == number)
            return &e;
    }
    return nullptr;
}

// Fills "%1".."%9" in one pass, so a parameter that itself holds "%2" stays as it is.
QString fill(const QString& tmpl, const QStringList& params)
{
    QString out;
    out.reserve(tmpl.size() + 64);
    for (qsizetype i = 0; i < tmpl.size(); ++i) {
        const QChar c = tmpl.at(i);
        if (c == QLatin1Char('%') && i + 1 < tmpl.size() && tmpl.at(i + 1) >= QLatin1Char('1') &&
            tmpl.at(i + 1) <= QLatin1Char('9')) {
            const qsizetype index = tmpl.at(i + 1).unicode() - u'1';
            if (index < params.size())
                out += params.at(index);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString catalogueTemplate(int number)
{
    const CatalogueEntry* e = findEntry(number);
    return e ? QString::fromUtf16(e->text) : QString();
}

QString catalogueText(int number, const QByteArray& gbkParams)
{
    const QByteArray cut = truncateGbk(gbkParams, 255);
    QStringList params;
    bool allEmpty = true;
    if (!cut.isEmpty()) {
        for (const QByteArray& part : cut.split('\x01')) {
            params.append(fromGbk(QByteArrayView(part)));
            allEmpty = allEmpty && part.isEmpty();
        }
    }
    const CatalogueEntry* e = findEntry(number);
    if (!e) {
        QString text = QStringLiteral("未定义的系统消息（编号%1）").arg(number);
        if (!params.isEmpty())
            text += QStringLiteral("：") + params.join(QStringLiteral("，"));
        return text;
    }
    if (allEmpty && e->whenEmpty)
        return QString::fromUtf16(e->whenEmpty);
    return fill(QString::fromUtf16(e->text), params);
}

} // namespace sjql::host
