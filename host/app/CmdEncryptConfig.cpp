// SPDX-License-Identifier: MIT
// sjql-host encrypt-config IN OUT: the host's tool that encrypts a plain "sysconfig.dat" with its
// cipher library, and the part of init that installs the taxpayer switch: the decryption library
// in the host application folder and an encrypted "sysconfig.dat" beside it.
#include "Commands.h"
#include "Installation.h"
#include "host/decrypt/CryptZelpDes.h"
#include "hostapi/CryptZelpDes.h"
#include "hostapi/FileModes.h"
#include "hostapi/Gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTemporaryFile>

namespace sjql::host {

namespace {

QString builtCipherLibrary()
{
    return hostLibraryDir() + QLatin1String(SJQL_DECRYPT_LIBRARY_NAME);
}

} // namespace

// Encrypts `plainFile` into `encryptedFile` with the settings password, through the cipher library
// beside the executable (loaded for this call only). False with *error naming what failed.
bool encryptConfigFile(const QString& plainFile, const QString& encryptedFile, QString* error)
{
    if (!QFileInfo(plainFile).isFile()) {
        *error = QStringLiteral("找不到文件%1").arg(quotedPath(plainFile));
        return false;
    }
    QLibrary lib(builtCipherLibrary());
    using EncryptProc = unsigned char (*)(const char*, const char*, const char*);
    auto encrypt = reinterpret_cast<EncryptProc>(lib.resolve("CommonEncryptFile"));
    if (!encrypt) {
        *error = QStringLiteral("无法从加密库%1加载 CommonEncryptFile（%2）")
                     .arg(quotedPath(lib.fileName()), lib.errorString());
        return false;
    }
    const QByteArray in = toGbk(QDir::toNativeSeparators(plainFile));
    const QByteArray out = toGbk(QDir::toNativeSeparators(encryptedFile));
    bool ok = false;
    {
        // The cipher library creates its output with the process's mask: the host's settings are
        // the user's alone.
        const OwnerOnlyMask ownerOnly;
        ok = encrypt(in.constData(), out.constData(), kSysConfigPassword) != 0;
    }
    lib.unload();
    if (!ok)
        *error = QStringLiteral("无法把%1加密写入%2").arg(quotedPath(plainFile), quotedPath(encryptedFile));
    return ok;
}

// Puts the decryption library into the host application folder and writes its "sysconfig.dat"
// with "CanUseHideNsr" 1 (switch offered) or 0 (the host edition without it).
bool installHideSwitch(const QString& appFolder, bool offered, QString* error)
{
    const QString target = appFolder + QLatin1String(SJQL_DECRYPT_LIBRARY_NAME);
    QFile::remove(target);
    if (!QFile::copy(builtCipherLibrary(), target)) {
        *error =
            QStringLiteral("无法把加密库%1复制到文件夹%2").arg(quotedPath(builtCipherLibrary()), quotedPath(appFolder));
        return false;
    }
    QTemporaryFile plain(appFolder + QStringLiteral("sysconfig-XXXXXX.ini"));
    if (!plain.open()) {
        *error = QStringLiteral("无法在文件夹%1中写文件").arg(quotedPath(appFolder));
        return false;
    }
    plain.write(offered ? "[SysConfig]\r\nCanUseHideNsr=1\r\n" : "[SysConfig]\r\nCanUseHideNsr=0\r\n");
    plain.close();
    return encryptConfigFile(plain.fileName(), appFolder + QStringLiteral("sysconfig.dat"), error);
}

namespace {

int runEncryptConfig(const CommandLine& cl)
{
    if (cl.positional.size() != 2)
        return usageError(QStringLiteral("需要两个文件：IN（明文的设置文件）和 OUT（加密后的文件）"));
    QString error;
    if (!encryptConfigFile(cl.positional.at(0), cl.positional.at(1), &error))
        return fail(error);
    printValue(QStringLiteral("encrypted"),
               QDir::toNativeSeparators(QFileInfo(cl.positional.at(1)).absoluteFilePath()));
    return 0;
}

} // namespace

SJQL_HOST_COMMAND({
    .name = QStringLiteral("encrypt-config"),
    .usage = QStringLiteral("IN OUT"),
    .summary = QStringLiteral("用宿主的加密算法加密明文的设置文件（例如 sysconfig.dat）"),
    .details = QStringLiteral("IN 是明文的 ini 文件，OUT 是加密后写出的文件；成功时输出 encrypted=<OUT 的完整路径>。"),
    .maxPositional = 2,
    .run = runEncryptConfig,
})

} // namespace sjql::host
