// SPDX-License-Identifier: MIT
// A folder made read-only for the length of a test, the way an installed program's folder is:
// immutable (chattr +i) for root, whom permission bits do not stop; mode 0555 for anyone else.
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

namespace sjql::test {

class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(QString folder) : m_folder(std::move(folder))
    {
        if (geteuid() == 0)
            m_done = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_folder}) == 0;
        else
            m_done = QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                         QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }
    ~ReadOnlyFolder()
    {
        if (!m_done)
            return;
        if (geteuid() == 0)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_folder});
        else
            QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // True when the folder really refuses a new file.
    bool holds() const
    {
        QFile probe(m_folder + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            return false;
        }
        return m_done;
    }

private:
    QString m_folder;
    bool m_done = false;
};

} // namespace sjql::test
