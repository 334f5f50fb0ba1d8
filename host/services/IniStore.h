// SPDX-License-Identifier: MIT
// The per-user ini files of the host, in the Windows profile-file form (CRLF, "key=value").
// Read and written by the rules of the Windows profile functions (hostapi/ProfileFile.h, the reader
// the module uses too); values are GBK bytes kept as they are. Internal to the services library.
#pragma once

#include <QByteArray>
#include <QString>

namespace sjql::host::ini {

// The stored value, or `defaultValue` when the file, the section or the key is missing.
QByteArray read(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& defaultValue);

// Stores the value at once, in place (the file and its folder are created when missing). False when
// the file cannot be read or written, or a name or the value holds a line break; the file is then
// left as it was.
bool write(const QString& file, const QByteArray& section, const QByteArray& key, const QByteArray& value);

} // namespace sjql::host::ini
