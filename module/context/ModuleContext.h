// SPDX-License-Identifier: MIT
// Configuration and module context: what the module knows about its setting, asked from
// the host at the moment of use. Nothing here caches: every getter asks the host again.
//
// GUI thread only, like the host services behind it. Nothing here throws.
#pragma once

#include "context/DbKind.h"

#include <QString>

namespace sjql {

class HostConnection;

// Value-object lookup: the first entry whose name equals `name` without regard to ASCII case.
// No such entry, or an entry of another kind: the default.
QString GetVoString(const QString& name, const QString& defaultValue = QString());
bool GetVoBool(const QString& name, bool defaultValue = false);
void* GetVoObject(const QString& name, void* defaultValue = nullptr);

// The value-object entries the module reads.
QString GetAgentCode();              // "QVR_KJYWRBM", empty
QString GetCurrentPeriod();          // "QVR_SDFY", empty
HostConnection* GetHostConnection(); // "QVR_DKDJADOConnection", null; borrowed, never deleted
QString GetDBTypeName();             // "QVR_DKDJDBType", empty
QString GetHostAppCode();            // "QVR_DKDJAPPCODE", empty ("03": the withholding client)
bool IsModuleEnabled();              // "QVR_DKDJENABLE", false
QString GetInitErrorText();          // "QVR_DKDJINITERROR", empty
// "QVR_STOPREQUEST", false: the host asks a running backup or restore to stop at its next safe
// point (a month boundary), for example because the process received SIGINT, SIGTERM or SIGHUP.
bool IsStopRequested();

// The kind of GetDBTypeName().
TDBKind GetDBKind();

// The folder of the module's own library file (libsjql.so), with a trailing '/'.
QString GetModuleDir();
// The full path of the process's executable file (the host).
QString GetHostExePath();
// The folder of the host executable, with a trailing '/': the folder of GetHostExePath(), unless a
// test seam names another one (SetHostExeDirOverride, or the environment variable
// SJQL_HOST_EXE_DIR), so tests never write into the build's bin folder.
QString GetHostExeDir();

// The host's folders for the user's own files (XDG, named after the host application): settings
// go to GetUserConfigDir() (~/.config/sjql-host/) and logs under GetUserDataDir()
// (~/.local/share/sjql-host/) where the folders beside the host executable and the module are
// read-only, as they are on an installed system. Both end with '/'; neither is created here.
QString GetUserConfigDir();
QString GetUserDataDir();

// True when a file can be made in `folder`: tried with a probe file rather than read off the
// permission bits, so a read-only mount or an immutable folder counts as read-only for root too.
// A folder that does not exist is not writable.
bool IsFolderWritable(const QString& folder);

// The host's "SysConfig.ini": the one in the host executable's folder when it is there, else the
// one in GetUserConfigDir() (which need not exist either; the reader then takes its defaults).
QString GetSysConfigIniPath();

// Test seam: a folder used instead of the host executable's folder; empty puts the real one back.
// It overrides SJQL_HOST_EXE_DIR. Note that it is per copy of this library: a module loaded from
// libsjql.so has its own copy, so tests of the loaded module use the environment variable.
void SetHostExeDirOverride(const QString& folder);

} // namespace sjql
