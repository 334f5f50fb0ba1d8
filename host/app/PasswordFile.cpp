// SPDX-License-Identifier: MIT
#include "PasswordFile.h"

#include "host/services/HostServicesAdmin.h"
#include "hostapi/Gbk.h"
#include "hostapi/ModuleLib.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

#include <sys/stat.h>

namespace sjql::host {

namespace {

constexpr const char* kAnswered = "sjqlPasswordAnswered";
constexpr const char* kSection = "SysConfig";
constexpr const char* kKey = "BackupEncryption";

} // namespace

bool passwordFromCommandLine(const CommandLine& cl, std::optional<QString>* password, QString* error)
{
    password->reset();
    if (!cl.has(QStringLiteral("password-file")))
        return true;
    const QString path = cl.value(QStringLiteral("password-file"));
    struct stat st
    {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("密码文件%1不存在").arg(quotedPath(path));
        return false;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QStringLiteral("密码文件%1其他用户也能读写（权限 %2），请先执行 chmod 600")
                     .arg(quotedPath(path))
                     .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取密码文件%1：%2").arg(quotedPath(path), file.errorString());
        return false;
    }
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        *error = QStringLiteral("密码文件%1的第一行是空的").arg(quotedPath(path));
        return false;
    }
    *password = QString::fromUtf8(line);
    return true;
}

PasswordAnswerer::PasswordAnswerer(std::optional<QString> password) : m_password(std::move(password))
{
    connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start(50);
}

void PasswordAnswerer::poll()
{
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || !dialog->isVisible() || dialog->objectName() != QLatin1String("dlgArchivePassword"))
        return;
    auto* cancel = dialog->findChild<QAbstractButton*>(QStringLiteral("btnPasswordCancel"));
    if (!m_password || dialog->property(kAnswered).toBool()) {
        // Still open after the password was typed: the module did not accept it.
        const auto* why = dialog->findChild<QLabel*>(QStringLiteral("lblPasswordProblem"));
        m_problem = m_password ? QStringLiteral("模块不接受密码文件中的密码：%1").arg(why ? why->text() : QString())
                               : QStringLiteral("备份文件用 AES-256 加密，需要密码：请用 --password-file 给出");
        if (cancel)
            cancel->click();
        else
            dialog->close();
        return;
    }
    for (const char* name : {"edtPassword", "edtPasswordAgain"}) {
        if (auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name)))
            edit->setText(*m_password);
    }
    dialog->setProperty(kAnswered, true);
    if (auto* ok = dialog->findChild<QAbstractButton*>(QStringLiteral("btnPasswordOK")))
        ok->click();
}

StrongModeForRun::StrongModeForRun(bool strong)
{
    if (!strong)
        return;
    m_file = toGbk(subAppUserConfigFile(state().curSubAppCode));
    const QByteArray code = toGbk(state().curSubAppCode);
    m_previous = QByteArray(GetSubAppUserConfigParam(code.constData(), kSection, kKey, ""));
    WriteIniValueString(m_file.constData(), kSection, kKey, "AES-256");
}

StrongModeForRun::~StrongModeForRun()
{
    if (m_previous)
        WriteIniValueString(m_file.constData(), kSection, kKey, m_previous->constData());
}

} // namespace sjql::host
