// SPDX-License-Identifier: MIT
// The per-user ini files of the host, in the Windows profile-file form (CRLF, "key=value").
// Sections and keys match without regard to ASCII case; values are GBK bytes kept as they are.
// Internal to the services library.
#pragma once

#include <QByteArray>
#include <QString>

namespace sjql::host::ini {

// The stored value, or `defaultValue` when the file, the section or the key is missing.
QByteArray read(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue);

// Stores the value at once (the file and its folder are created when missing). False when the
// file cannot be written; the file is then left as it was.
bool write(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& value);

} // namespace sjql::host::ini
