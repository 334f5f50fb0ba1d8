// SPDX-License-Identifier: MIT
#include "context/ParamText.h"

namespace sjql {

QString GetParamValue(const QString& text, const QString& name)
{
    if (name.isEmpty())
        return QString();
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char(';'), start);
        if (end < 0)
            end = text.size();
        const QStringView item = QStringView(text).mid(start, end - start);
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq >= 0 && item.left(eq) == name) {
            const QStringView value = item.mid(eq + 1);
            if (!value.isEmpty()) {
                QString result = value.toString();
                result.replace(QStringLiteral("&eq%"), QStringLiteral("="));
                result.replace(QStringLiteral("&lim%"), QStringLiteral(";"));
                return result;
            }
        }
        start = end + 1;
    }
    return QString();
}

} // namespace sjql
