// SPDX-License-Identifier: MIT
// Texts of name=value pairs separated by ";" (the start parameter text, the host library's result
// texts). Inside a value "&eq%" stands for "=" and "&lim%" for ";".
#pragma once

#include <QString>

namespace sjql {

// The value of the first item whose key equals `name` exactly (case included) and whose value is
// not empty, unescaped; empty when there is none. The key of an item is what stands before its
// first "="; an item without "=" never matches.
QString GetParamValue(const QString& text, const QString& name);

} // namespace sjql
