// SPDX-License-Identifier: MIT
// The module's work folders. Every withholding agent has a folder of its own below the work folder
// (FWorkDir), so that a run for one agent never sees, adopts or replaces files of another:
//   <FWorkDir>/<agent folder>/<year>/      a year's data files and summary until its archive is packed
//   <FWorkDir>/<agent folder>/UnZipDir/    the restore's unpack folder
// The names are pure functions (any thread); the removal below touches the disk.
#pragma once

#include <QString>

#include <utility>

namespace sjql {

// The agent's folder name: letters, digits and "-" as they are, every other byte of the code's
// UTF-8 form written as "_" and two upper-case hex digits, so that two different codes never share
// a folder and no code can name a path ("3101" -> "3101", "A/B" -> "A_2FB"); an empty code is "_".
[[nodiscard]] QString AgentFolderName(const QString& agentCode);

// <workDir>/<AgentFolderName(agentCode)>
[[nodiscard]] QString AgentWorkDir(const QString& workDir, const QString& agentCode);

// Removes the work folders a run leaves with nothing in them: the agent's empty year folders and
// the agent's folder, then `workDir` ("TMPBFMU") and its parent ("TEMP"). Only empty folders go, so
// files waiting for their archive, archives packed into TEMP and other agents' folders stay.
void RemoveEmptyWorkFolders(const QString& workDir, const QString& agentCode);

// Calls RemoveEmptyWorkFolders when it goes out of scope: the window's runs end on many paths.
class EmptyWorkFolderRemover
{
public:
    EmptyWorkFolderRemover(QString workDir, QString agentCode)
        : m_workDir(std::move(workDir)), m_agentCode(std::move(agentCode))
    {}
    ~EmptyWorkFolderRemover() { RemoveEmptyWorkFolders(m_workDir, m_agentCode); }
    EmptyWorkFolderRemover(const EmptyWorkFolderRemover&) = delete;
    EmptyWorkFolderRemover& operator=(const EmptyWorkFolderRemover&) = delete;

private:
    QString m_workDir;
    QString m_agentCode;
};

} // namespace sjql
