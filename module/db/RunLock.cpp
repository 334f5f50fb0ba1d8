// SPDX-License-Identifier: MIT
#include "db/RunLock.h"

#include "context/ModuleContext.h"
#include "hostapi/HostConnection.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sjql {
namespace {

const QString kBusySameFile =
    QStringLiteral("另一个数据备份清理或数据恢复正在使用同一数据库文件，本次未做任何处理，请等它结束后再试");
const QString kBusySameAgent = QStringLiteral(
    "另一个数据备份清理或数据恢复正在进行（同一数据库、同一扣缴义务人），本次未做任何处理，请等它结束后再试");

QString cannotLock(const QString& reason)
{
    return QStringLiteral("无法确认没有其他数据备份清理或数据恢复正在进行（%1），本次未做任何处理").arg(reason);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Named locks held by RunLocks of this process, per connection: the server grants a connection
// the same name again, so a second run on the one host connection is refused here.
QSet<QString>& namesHeldHere()
{
    static QSet<QString> names;
    return names;
}

// The server's lock name for a database and agent; names are server-wide and at most 64 long.
QString serverLockName(const QString& database, const QString& agentCode)
{
    const QString name = QStringLiteral("sjql:%1:%2").arg(database, agentCode);
    if (name.toUtf8().size() <= 64)
        return name;
    return QStringLiteral("sjql:") +
           QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex());
}

} // namespace

RunLock::~RunLock()
{
    release();
}

bool RunLock::acquire(const QString& agentCode, QString* error)
{
    m_busy = false;
    if (m_held)
        return true;
    QString reason;
    auto fail = [&](const QString& text, bool busy) {
        m_busy = busy;
        if (error)
            *error = text;
        return false;
    };
    HostConnection* conn = GetHostConnection();
    if (!conn)
        return fail(cannotLock(QStringLiteral("主程序没有提供数据库连接")), false);
    if (!conn->connected() && !conn->connect())
        return fail(cannotLock(QStringLiteral("数据库连接无法打开：%1").arg(conn->lastError())), false);
    const QSqlDatabase db = conn->database();
    const QSqlDriver* driver = db.driver();
    const QSqlDriver::DbmsType type = driver ? driver->dbmsType() : QSqlDriver::UnknownDbms;

    if (type == QSqlDriver::SQLite) {
        const QString name = db.databaseName();
        // A database in memory (or a temporary one) cannot be reached by any other run.
        if (name.isEmpty() || name == QLatin1String(":memory:") || name.startsWith(QLatin1String("file::memory:"))) {
            m_held = true;
            return true;
        }
        const QString file = QFileInfo(name).canonicalFilePath();
        if (file.isEmpty())
            return fail(cannotLock(QStringLiteral("数据库文件 %1 不存在").arg(name)), false);
        const QString lockFile = file + QStringLiteral(".sjql-lock");
        const QByteArray path = QFile::encodeName(lockFile);
        // The holder removes the lock file before letting go; a lock taken on a file that was
        // removed meanwhile protects nothing, so take it again on the file now there.
        for (int attempt = 0; attempt < 20; ++attempt) {
            int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && (errno == EACCES || errno == EROFS))
                fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0)
                return fail(cannotLock(QStringLiteral("锁文件 %1 无法建立：%2").arg(lockFile, systemError(errno))),
                            false);
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int code = errno;
                ::close(fd);
                if (code == EWOULDBLOCK)
                    return fail(kBusySameFile, true);
                return fail(cannotLock(QStringLiteral("锁文件 %1 无法加锁：%2").arg(lockFile, systemError(code))),
                            false);
            }
            struct stat held
            {};
            struct stat named
            {};
            if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
                held.st_ino == named.st_ino) {
                m_fd = fd;
                m_lockFile = lockFile;
                m_held = true;
                return true;
            }
            ::close(fd);
        }
        return fail(cannotLock(QStringLiteral("锁文件 %1 反复被删除").arg(lockFile)), false);
    }

    if (type == QSqlDriver::MySqlServer) {
        const QString name = serverLockName(db.databaseName(), agentCode);
        const QString key = db.connectionName() + QLatin1Char('\n') + name;
        if (namesHeldHere().contains(key))
            return fail(kBusySameAgent, true);
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("SELECT GET_LOCK(?, 0)"))) {
            reason = q.lastError().text();
        } else {
            q.addBindValue(name);
            if (!q.exec() || !q.next())
                reason = q.lastError().text();
        }
        if (!reason.isEmpty())
            return fail(cannotLock(QStringLiteral("数据库服务器的锁 %1 无法申请：%2").arg(name, reason)), false);
        const QVariant granted = q.value(0);
        if (granted.isNull())
            return fail(cannotLock(QStringLiteral("数据库服务器拒绝了锁 %1").arg(name)), false);
        if (granted.toInt() != 1)
            return fail(kBusySameAgent, true);
        namesHeldHere().insert(key);
        m_lockName = name;
        m_connectionName = db.connectionName();
        m_held = true;
        return true;
    }
    return fail(cannotLock(QStringLiteral("数据库类型 %1 不支持运行锁").arg(driver ? db.driverName() : QString())),
                false);
}

void RunLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    if (m_fd >= 0) {
        // Removed while still held, so no other run can have opened it after the removal and
        // think itself alone beside us; see acquire.
        (void)::unlink(QFile::encodeName(m_lockFile).constData());
        ::close(m_fd);
        m_fd = -1;
        m_lockFile.clear();
    }
    if (!m_lockName.isEmpty()) {
        namesHeldHere().remove(m_connectionName + QLatin1Char('\n') + m_lockName);
        // The lock belongs to the connection that took it; when that was closed meanwhile, the
        // server has let go already.
        if (QSqlDatabase::contains(m_connectionName)) {
            const QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            QSqlQuery q(db);
            if (db.isOpen() && q.prepare(QStringLiteral("SELECT RELEASE_LOCK(?)"))) {
                q.addBindValue(m_lockName);
                (void)q.exec();
            }
        }
        m_lockName.clear();
        m_connectionName.clear();
    }
}

} // namespace sjql
