// SPDX-License-Identifier: MIT
// The strong mode of the backup archives: AES-256 with a password the user chooses, for
// installations that do not exchange archives with older ones. The user's setting lives in the
// module's per-user ini, section "SysConfig", key "BackupEncryption": "AES-256" turns the strong
// mode on, any other value (or none) keeps the default archives that every installation reads.
//
// The dialog asks for the password when a strong-mode backup starts (typed twice) and when archives
// chosen for restore are AES-encrypted (typed once). Its object names are fixed so that scripted
// runs find it among the application's modal widgets: "dlgArchivePassword" with the fields
// "edtPassword" and "edtPasswordAgain", the problem label "lblPasswordProblem" and the buttons
// "btnPasswordOK" and "btnPasswordCancel". GUI thread only. The password is not stored anywhere.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace sjql::window {

// Whether the user's setting asks for AES-256 archives.
[[nodiscard]] bool StrongArchivesWanted();

// Whether any of the archives is AES-encrypted (and so needs the user's password).
[[nodiscard]] bool AnyStrongArchive(const QStringList& archives);

// Asks for the password of a new strong-mode backup, typed twice; a password the strong mode does
// not accept (StrongPasswordProblem) keeps the dialog open with the reason. None when cancelled.
[[nodiscard]] std::optional<QString> AskNewArchivePassword(QWidget* parent);

// Asks for the password of the AES-encrypted archives chosen for restore. None when cancelled.
[[nodiscard]] std::optional<QString> AskArchivePassword(QWidget* parent);

} // namespace sjql::window
