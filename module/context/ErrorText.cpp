// SPDX-License-Identifier: MIT
#include "context/ErrorText.h"

#include "context/ModuleContext.h"
#include "support/IniFile.h"

namespace sjql {

QString FormatErrorText(const QString& code)
{
    // Beside the host executable, or in the user's configuration folder on an installed system.
    const QString file = GetSysConfigIniPath();
    const QString phone = ReadIniString(file, QStringLiteral("SysCofig"), QStringLiteral("SupportPhone"),
                                        QString::fromLatin1(kDefaultSupportPhone));
    // Both texts go in as they are: no argument markers inside them are interpreted.
    return QStringLiteral("[代码：") + code + QStringLiteral("]系统处理异常，请联系服务商(") + phone +
           QStringLiteral(")。");
}

QString ReadIniString(const QString& file, const QString& section, const QString& key, const QString& defaultValue)
{
    return readIniText(file, section, key, defaultValue);
}

} // namespace sjql
