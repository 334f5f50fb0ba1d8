// SPDX-License-Identifier: MIT
// The strong mode's password in scripted runs: never on the command line (where every local user
// can read it in the process list), always from a file, `--password-file FILE`. The password is the
// file's first line, without its line end, in UTF-8. A file that the group or others may read or
// write is refused, as ssh refuses such a key: a password anyone can read protects nothing.
#pragma once

#include "Commands.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace sjql::host {

// The password of --password-file when given: false with *error when the file cannot be used (it
// is missing or unreadable, readable or writable by others, or its first line is empty).
[[nodiscard]] bool passwordFromCommandLine(const CommandLine& cl, std::optional<QString>* password, QString* error);

// Answers the module's password dialog (dlgArchivePassword) while a run goes on: types the password
// and confirms, or cancels the dialog when there is none or the module does not accept it. After
// the run, problem() tells why the run did not start because of the password.
class PasswordAnswerer : public QObject
{
public:
    explicit PasswordAnswerer(std::optional<QString> password);
    [[nodiscard]] const std::optional<QString>& problem() const { return m_problem; }

private:
    void poll();

    std::optional<QString> m_password;
    std::optional<QString> m_problem;
    QTimer m_timer;
};

// Puts the user's archive setting to the strong mode (AES-256) for the life of this object, then
// back to what it was: `clear --password-file` makes AES archives for that run only.
class StrongModeForRun
{
public:
    explicit StrongModeForRun(bool strong);
    ~StrongModeForRun();
    StrongModeForRun(const StrongModeForRun&) = delete;
    StrongModeForRun& operator=(const StrongModeForRun&) = delete;

private:
    QByteArray m_file;
    std::optional<QByteArray> m_previous;
};

} // namespace sjql::host
