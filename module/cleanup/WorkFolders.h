// SPDX-License-Identifier: MIT
// The module's work folders. Every withholding agent has a folder of its own below the work folder
// (FWorkDir), so that a run for one agent never sees, adopts or replaces files of another:
//   <FWorkDir>/<agent folder>/<year>/      a year's data files and summary until its archive is packed
//   <FWorkDir>/<agent folder>/UnZipDir/    the restore's unpack folder
// Pure functions, any thread.
#pragma once

#include <QString>

namespace sjql {

// The agent's folder name: letters, digits and "-" as they are, every other byte of the code's
// UTF-8 form written as "_" and two upper-case hex digits, so that two different codes never share
// a folder and no code can name a path ("3101" -> "3101", "A/B" -> "A_2FB"); an empty code is "_".
[[nodiscard]] QString AgentFolderName(const QString& agentCode);

// <workDir>/<AgentFolderName(agentCode)>
[[nodiscard]] QString AgentWorkDir(const QString& workDir, const QString& agentCode);

} // namespace sjql
