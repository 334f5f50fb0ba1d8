// SPDX-License-Identifier: MIT
// The reference host's withholding library: whether a month of an agent may be cleared, and the
// clear itself, on the host connection published in the value object.
//
// Month status (SBZB of the month and agent), checked in this order:
//   no row of the month in ZCGZXJMXB, FGZXJB or KJSDSBGB     1  nothing to clear, no warning
//   no SBZB row (data that were never declared)             2  not declared
//   a status outside its range (SBZT 0/1, FKZT 0/1, ZCZT 0..3) -1  processing failed
//   SBZT = 0                                                 2  not declared
//   FKZT = 0                                                 3  no feedback
//   ZCZT = 1                                                 4  self-check not declared
//   ZCZT = 2                                                 5  self-check declared, no feedback
//   otherwise (ZCZT 0 none, 3 self-check finished)           0  may be cleared
// A month whose SBZB row has SDBZ = 1 has been locked by the tax office: the check still answers by
// the status above, but ClearDKDJData refuses it with a result text and changes nothing.
// SJQL_TEST_CLEAR_LOSES_ANSWER=YYYYMM (tests only): that month is cleared and committed, and the
// call still reports a failure, as when the connection drops after the commit.
#include "hostapi/Gbk.h"
#include "hostapi/HostConnection.h"
#include "hostapi/IITIterface.h"
#include "hostapi/ModuleLib.h"
#include "hostapi/MysqlNonBlocking.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <cstring>
#include <optional>

namespace {

using sjql::HostConnection;

constexpr int kCanClear = 0, kNothingToClear = 1, kNotDeclared = 2, kNoFeedback = 3, kSelfCheckNotDeclared = 4,
              kSelfCheckNoFeedback = 5, kFailed = -1;
constexpr int kClearRefused = 1;

const char* const kTables[] = {"ZCGZXJMXB", "FGZXJB", "KJSDSBGB"};

// The value object's first entry of that name, without regard to ASCII case.
HostConnection* hostConnection()
{
    const SjqlValueObject* vo = GetCurSubAppVo();
    if (!vo || !vo->entries)
        return nullptr;
    for (int i = 0; i < vo->count; ++i) {
        const SjqlVoEntry& e = vo->entries[i];
        if (qstricmp(e.name, "QVR_DKDJADOConnection") == 0)
            return e.kind == SJQL_VO_OBJECT ? static_cast<HostConnection*>(e.object) : nullptr;
    }
    return nullptr;
}

// Writes "resultMsg=<message>" into the caller's buffer, escaping "=" and ";" inside the value and
// cutting it so that neither a GBK character nor an escape is split and the text with its zero
// stays within the buffer.
void writeResult(char** result, const QString& message)
{
    if (!result || !*result)
        return;
    QByteArray out("resultMsg=");
    const qsizetype limit = SJQL_IIT_RESULT_BUFFER_SIZE - 1;
    for (qsizetype i = 0; i < message.size(); ++i) {
        QByteArray piece;
        const QChar c = message.at(i);
        if (c == QLatin1Char('='))
            piece = "&eq%";
        else if (c == QLatin1Char(';'))
            piece = "&lim%";
        else if (c.isHighSurrogate() && i + 1 < message.size())
            piece = sjql::toGbk(QStringView(message).mid(i++, 2));
        else
            piece = sjql::toGbk(QStringView(message).mid(i, 1));
        if (out.size() + piece.size() > limit)
            break;
        out += piece;
    }
    std::memcpy(*result, out.constData(), static_cast<size_t>(out.size()));
    (*result)[out.size()] = '\0';
}

bool validPeriod(const QString& period)
{
    if (period.size() != 6)
        return false;
    for (QChar c : period) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int month = period.mid(4).toInt();
    return month >= 1 && month <= 12;
}

// Common checks of both entries; on failure the result text is written and false returned.
HostConnection* prepare(const char* period, const char* agentCode, char** result, QString* p, QString* agent)
{
    *p = sjql::fromGbk(period);
    *agent = sjql::fromGbk(agentCode);
    if (!validPeriod(*p)) {
        writeResult(result, QStringLiteral("所属期[%1]不是有效的年月(YYYYMM)").arg(*p));
        return nullptr;
    }
    if (agent->trimmed().isEmpty()) {
        writeResult(result, QStringLiteral("扣缴义务人编码为空"));
        return nullptr;
    }
    HostConnection* conn = hostConnection();
    if (!conn) {
        writeResult(result, QStringLiteral("主机数据库连接不可用"));
        return nullptr;
    }
    if (!conn->connected() && !conn->connect()) {
        writeResult(result, QStringLiteral("主机数据库无法连接：%1").arg(conn->lastError()));
        return nullptr;
    }
    return conn;
}

bool run(QSqlQuery& q, const QString& sql, const QString& period, const QString& agent)
{
    if (!q.prepare(sql))
        return false;
    q.addBindValue(period);
    q.addBindValue(agent);
    return q.exec();
}

// A month's deletion on MariaDB: the statement runs through the client library's non-blocking
// calls, and while the server deletes (a large month takes a second or more) the calling thread's
// pending events other than user input are processed every 25 ms, so the caller's window keeps
// painting. True when it ran; false with *reason set.
bool deleteOnMysql(MYSQL* mysql, const char* table, const QString& p, const QString& agent, QString* reason)
{
    auto quoted = [mysql](const QString& value) {
        const QByteArray utf8 = value.toUtf8();
        QByteArray out(utf8.size() * 2 + 1, Qt::Uninitialized);
        out.resize(qsizetype(
            mysql_real_escape_string(mysql, out.data(), utf8.constData(), static_cast<unsigned long>(utf8.size()))));
        return '\'' + out + '\'';
    };
    const QByteArray sql =
        QByteArray("delete from ") + table + " where FFYF=" + quoted(p) + " and KJYWRBM=" + quoted(agent);
    const bool guiThread =
        QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    QElapsedTimer since;
    since.start();
    const auto idle = [&] {
        if (guiThread && since.elapsed() >= 25) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            since.restart();
        }
    };
    if (sjql::mysqlnb::RunStatement(mysql, sql.constData(), static_cast<unsigned long>(sql.size()), idle) == 0)
        return true;
    *reason = QString::fromUtf8(mysql_error(mysql)).trimmed() + QStringLiteral(" QMYSQL: Unable to execute query");
    return false;
}

// bCanClearDkdjData for a checked call: the month's status (see the table above).
int canClear(HostConnection* conn, const QString& p, const QString& agent, char** result)
{
    QSqlQuery q(conn->database());
    bool hasRows = false;
    for (const char* table : kTables) {
        if (!run(q,
                 QStringLiteral("select 1 from %1 where FFYF=? and KJYWRBM=? limit 1").arg(QString::fromLatin1(table)),
                 p, agent)) {
            writeResult(result, QStringLiteral("读取%1失败：%2").arg(QString::fromLatin1(table), q.lastError().text()));
            return kFailed;
        }
        hasRows = hasRows || q.next();
    }
    if (!hasRows)
        return kNothingToClear;
    if (!run(q, QStringLiteral("select SBZT, FKZT, ZCZT from SBZB where SBYF=? and KJYWRBM=?"), p, agent)) {
        writeResult(result, QStringLiteral("读取申报表失败：%1").arg(q.lastError().text()));
        return kFailed;
    }
    if (!q.next())
        return kNotDeclared;
    const int declared = q.value(0).toInt(), feedback = q.value(1).toInt(), selfCheck = q.value(2).toInt();
    if (declared < 0 || declared > 1 || feedback < 0 || feedback > 1 || selfCheck < 0 || selfCheck > 3) {
        writeResult(result, QStringLiteral("所属期[%1]申报状态无效(SBZT=%2,FKZT=%3,ZCZT=%4)")
                                .arg(p)
                                .arg(declared)
                                .arg(feedback)
                                .arg(selfCheck));
        return kFailed;
    }
    if (declared == 0)
        return kNotDeclared;
    if (feedback == 0)
        return kNoFeedback;
    if (selfCheck == 1)
        return kSelfCheckNotDeclared;
    if (selfCheck == 2)
        return kSelfCheckNoFeedback;
    return kCanClear;
}

// ClearDKDJData for a checked call.
int clearMonth(HostConnection* conn, const QString& p, const QString& agent, char** result)
{
    QSqlQuery q(conn->database());
    if (!run(q, QStringLiteral("select SDBZ from SBZB where SBYF=? and KJYWRBM=?"), p, agent)) {
        writeResult(result, QStringLiteral("读取申报表失败：%1").arg(q.lastError().text()));
        return kFailed;
    }
    if (q.next() && q.value(0).toInt() == 1) {
        writeResult(result, QStringLiteral("所属期[%1]的数据已被税务机关锁定，不能清理").arg(p));
        return kClearRefused;
    }
    q.finish();

    // Inside the caller's transaction (the restore) the deletes simply join it; otherwise the three
    // tables are cleared together or not at all.
    const bool own = !conn->inTransaction();
    if (own && !conn->beginTrans()) {
        writeResult(result, QStringLiteral("开始事务失败：%1").arg(conn->lastError()));
        return kFailed;
    }
    MYSQL* mysql = sjql::mysqlnb::HandleOf(conn->database());
    // Each deletion keeps to the month index also when the months cleared before leave the
    // optimizer's dives estimating this one too high.
    std::optional<sjql::mysqlnb::EqualityRangesFromStatistics> monthIndex;
    if (mysql)
        monthIndex.emplace(mysql);
    for (const char* table : kTables) {
        QString reason;
        const bool deleted =
            mysql ? deleteOnMysql(mysql, table, p, agent, &reason)
                  : run(q, QStringLiteral("delete from %1 where FFYF=? and KJYWRBM=?").arg(QString::fromLatin1(table)),
                        p, agent);
        if (!deleted) {
            if (!mysql)
                reason = q.lastError().text();
            q.finish();
            if (own)
                conn->rollbackTrans();
            writeResult(result, QStringLiteral("清理%1失败：%2").arg(QString::fromLatin1(table), reason));
            return kFailed;
        }
    }
    q.finish();
    if (own && !conn->commitTrans()) {
        conn->rollbackTrans();
        writeResult(result, QStringLiteral("提交事务失败：%1").arg(conn->lastError()));
        return kFailed;
    }
    // Test seam: a commit whose answer was lost (the server went away after committing) looks
    // like this to the caller: the month is gone although the clear reports a failure.
    if (qEnvironmentVariable("SJQL_TEST_CLEAR_LOSES_ANSWER") == p) {
        writeResult(result, QStringLiteral("提交事务失败：与数据库的连接中断"));
        return kFailed;
    }
    return 0;
}

// Runs `body` for a call whose period, agent and connection passed the common checks.
int withCheckedCall(const char* period, const char* agentCode, char** result,
                    int (*body)(HostConnection*, const QString&, const QString&, char**))
{
    QString p, agent;
    HostConnection* conn = prepare(period, agentCode, result, &p, &agent);
    return conn ? body(conn, p, agent, result) : kFailed;
}

} // namespace

extern "C" int bCanClearDkdjData(const char* period, const char* agentCode, char** result)
{
    return withCheckedCall(period, agentCode, result, canClear);
}

extern "C" int ClearDKDJData(const char* period, const char* agentCode, char** result)
{
    return withCheckedCall(period, agentCode, result, clearMonth);
}
