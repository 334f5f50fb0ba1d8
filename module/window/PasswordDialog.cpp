// SPDX-License-Identifier: MIT
#include "window/PasswordDialog.h"

#include "archive/CompressUnit.h"
#include "hostapi/ModuleLib.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sjql::window {

namespace {

enum class Purpose
{
    NewBackup, // typed twice, checked against the strong mode's rules
    Restore,   // typed once; the archive itself tells whether it is right
};

std::optional<QString> ask(QWidget* parent, Purpose purpose)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgArchivePassword"));
    dialog.setWindowTitle(purpose == Purpose::NewBackup ? QStringLiteral("设置备份文件密码")
                                                        : QStringLiteral("输入备份文件密码"));
    auto* intro = new QLabel(purpose == Purpose::NewBackup
                                 ? QStringLiteral("本次备份文件用 AES-256 加密。请设置密码（至少%1个字符）："
                                                  "\n恢复时需要同一个密码，忘记密码将无法恢复。")
                                       .arg(MinStrongPasswordLength)
                                 : QStringLiteral("所选备份文件用 AES-256 加密，请输入备份时设置的密码："),
                             &dialog);
    intro->setWordWrap(true);
    auto* password = new QLineEdit(&dialog);
    password->setObjectName(QStringLiteral("edtPassword"));
    password->setEchoMode(QLineEdit::Password);
    auto* again = new QLineEdit(&dialog);
    again->setObjectName(QStringLiteral("edtPasswordAgain"));
    again->setEchoMode(QLineEdit::Password);
    auto* problem = new QLabel(&dialog);
    problem->setObjectName(QStringLiteral("lblPasswordProblem"));
    problem->setStyleSheet(QStringLiteral("color: #c00000;"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("密码："), password);
    if (purpose == Purpose::NewBackup)
        form->addRow(QStringLiteral("再输一次："), again);
    else
        again->hide();
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnPasswordOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnPasswordCancel"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(problem);
    layout->addWidget(buttons);

    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        QString reason;
        if (purpose == Purpose::NewBackup) {
            reason = StrongPasswordProblem(password->text());
            if (reason.isEmpty() && password->text() != again->text())
                reason = QStringLiteral("两次输入的密码不一致");
        } else if (password->text().isEmpty()) {
            reason = QStringLiteral("请输入密码");
        }
        if (!reason.isEmpty()) {
            problem->setText(reason);
            return;
        }
        dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return password->text();
}

} // namespace

bool StrongArchivesWanted()
{
    const QString value =
        QString::fromLatin1(GetSubAppUserConfigParam(GetCurSubAppCode(), "SysConfig", "BackupEncryption", ""));
    return value.trimmed().compare(QLatin1String("AES-256"), Qt::CaseInsensitive) == 0;
}

bool AnyStrongArchive(const QStringList& archives)
{
    for (const QString& archive : archives) {
        if (ArchiveCipherOf(archive) == ArchiveCipher::Aes256)
            return true;
    }
    return false;
}

std::optional<QString> AskNewArchivePassword(QWidget* parent)
{
    return ask(parent, Purpose::NewBackup);
}

std::optional<QString> AskArchivePassword(QWidget* parent)
{
    return ask(parent, Purpose::Restore);
}

} // namespace sjql::window
