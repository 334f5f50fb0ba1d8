// SPDX-License-Identifier: MIT
// The folders the cleanup window works with, computed as the window computes them, so that the
// scripted tools look where the window writes: the backup folder it proposes, the fallback folder
// for archives that cannot go there, and the work folder of the agents' unpacked years.
//
// GUI thread only: the stored folder and the sub-application's folder are asked from the host.
#pragma once

#include <QString>

namespace sjql {

// The backup folder the window shows when it opens: the user's stored folder (BFPATH of the
// sub-application's user settings) when it exists; else "Quarvo/备份" in the user's place on the
// last fixed drive (or the removable drive the sub-application runs from), inside a stale stored
// folder when there is one, else in the home folder. Always absolute.
[[nodiscard]] QString ChooseBackupFolder();

// <sub-application folder>/TEMP: where archives go when the backup folder cannot take them.
[[nodiscard]] QString FallbackArchiveFolder(const QString& subAppFolder);

// <sub-application folder>/TEMP/TMPBFMU: the work folder (FWorkDir).
[[nodiscard]] QString ModuleWorkFolder(const QString& subAppFolder);

// The module's own sub-application folder, with its trailing separator.
[[nodiscard]] QString ModuleSubAppFolder();

} // namespace sjql
