// SPDX-License-Identifier: MIT
// Folder texts both sides agree on: the trailing separator, and the test seam that moves the host
// executable's folder (where "SysConfig.ini" lives). Header-only, like the rest of hostapi/ that is
// not a C ABI: host and module each compile their own hidden copy.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace sjql::folders {

// `folder` with one trailing '/', unless it is empty.
inline QString withSlash(QString folder)
{
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// Test seam: SJQL_HOST_EXE_DIR=DIR makes host and module take DIR for the folder of the host
// executable, so that tests never write "SysConfig.ini" into the build's bin/. Set by the test
// programs that run sjql-host; never by the host itself. Empty when it is not set.
inline constexpr const char* kHostExeDirEnv = "SJQL_HOST_EXE_DIR";

inline QString hostExeDirFromEnvironment()
{
    return withSlash(QFile::decodeName(qgetenv(kHostExeDirEnv)));
}

} // namespace sjql::folders
