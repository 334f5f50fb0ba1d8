// SPDX-License-Identifier: MIT
// The coded error text shown for a failed database statement.
#pragma once

#include <QString>

namespace sjql {

// The one code the module uses for every failed database statement.
inline constexpr const char* kDbErrorCode = "80323110";
// The support number used when "SysConfig.ini" has none.
inline constexpr const char* kDefaultSupportPhone = "400-889-0123";

// "[代码：<code>]系统处理异常，请联系服务商(<number>)。" with the support number from section "SysCofig"
// (spelled so), key "SupportPhone" of "SysConfig.ini" in the host executable's folder
// (GetHostExeDir), else in the user's configuration folder (GetSysConfigIniPath), read again on
// every call; the built-in number when the file or key is missing.
QString FormatErrorText(const QString& code);

// Opens the ini file, reads one value (GBK decoded), closes it; `defaultValue` when missing.
QString ReadIniString(const QString& file, const QString& section, const QString& key, const QString& defaultValue);

} // namespace sjql
