// SPDX-License-Identifier: MIT
#include "support/MysqlTextRows.h"

#include "hostapi/MysqlNonBlocking.h"
#include "support/EventPump.h"

#include <QSqlDriver>
#include <QSqlRecord>
#include <QSqlResult>

#include <mysql.h>

namespace sjql::adtg {
namespace {

// Column types whose text the writer reads the same way as the driver's converted value.
bool plainColumn(const MYSQL_FIELD& f)
{
    switch (f.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIME:
        return true;
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
        // Character texts only: the driver hands binary columns out as bytes.
        return f.charsetnr != 63 && (f.flags & BINARY_FLAG) == 0;
    default:
        return false;
    }
}

} // namespace

// A stored result whose columns are all plain.
bool plainResult(MYSQL_RES* res)
{
    const MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < mysql_num_fields(res); ++i) {
        if (!plainColumn(fields[i]))
            return false;
    }
    return true;
}

struct MysqlTextRows::Result
{
    MYSQL_RES* res = nullptr;
    bool owned = false;
    MYSQL* streamedFrom = nullptr; // a streamed result: its rows come once, errors from this handle
    bool nonBlocking = false;      // a streamed result's rows are awaited through the non-blocking calls
    bool moved = false;
    QString error;
    // While a streamed result waits for the server's next rows, events other than user input are
    // processed at the busy pace (the connection is the rows' alone meanwhile).
    EventPump busy{EventPolicy::ConnectionBusy};
    std::function<void()> idle = [this] { (void)busy(); }; // bound to this object: never copied

    Result() = default;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    MYSQL_ROW row = nullptr;
    unsigned long* lengths = nullptr;
    ~Result()
    {
        if (owned)
            mysql_free_result(res);
    }
};

MysqlTextRows::MysqlTextRows(std::unique_ptr<Result> result) : m_result(std::move(result))
{
    m_columns = static_cast<int>(mysql_num_fields(m_result->res));
}

MysqlTextRows::~MysqlTextRows() = default;

std::unique_ptr<MysqlTextRows> MysqlTextRows::attach(const QSqlQuery& query)
{
    const QSqlDriver* driver = query.driver();
    if (!driver || driver->dbmsType() != QSqlDriver::MySqlServer || !query.isActive() || !query.isSelect() ||
        query.isForwardOnly() || !query.result())
        return nullptr;
    // A query run without prepare hands out its MYSQL_RES, a prepared one its statement.
    const QVariant handle = query.result()->handle();
    // The driver registers the type under the structure's own name.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "st_mysql_res*") != 0 && qstrcmp(handle.typeName(), "MYSQL_RES*") != 0))
        return nullptr;
    MYSQL_RES* res = *static_cast<MYSQL_RES* const*>(handle.constData());
    if (!res)
        return nullptr;
    // All rows on the client (a stored result), as many as the driver counts, of plain columns.
    if (static_cast<qint64>(mysql_num_rows(res)) != query.size() ||
        static_cast<int>(mysql_num_fields(res)) != query.record().count())
        return nullptr;
    if (!plainResult(res))
        return nullptr;
    auto result = std::make_unique<Result>();
    result->res = res;
    return std::unique_ptr<MysqlTextRows>(new MysqlTextRows(std::move(result)));
}

std::unique_ptr<MysqlTextRows> MysqlTextRows::adopt(st_mysql_res* res, st_mysql* streamedFrom)
{
    if (!res)
        return nullptr;
    auto result = std::make_unique<Result>();
    result->res = res;
    result->owned = true;
    result->streamedFrom = streamedFrom;
    result->nonBlocking = streamedFrom && mysqlnb::EnableNonBlocking(streamedFrom);
    if (!plainResult(res))
        return nullptr;
    return std::unique_ptr<MysqlTextRows>(new MysqlTextRows(std::move(result)));
}

QString MysqlTextRows::columnName(int column) const
{
    const MYSQL_FIELD* field = mysql_fetch_field_direct(m_result->res, static_cast<unsigned>(column));
    return field ? QString::fromUtf8(field->name, static_cast<qsizetype>(field->name_length)) : QString();
}

bool MysqlTextRows::first()
{
    if (m_result->streamedFrom) {
        if (m_result->moved) {
            // Read again, a streamed selection would silently give nothing.
            m_result->row = nullptr;
            m_result->error = QStringLiteral("the rows of a streamed selection cannot be read a second time");
            return false;
        }
        return next();
    }
    mysql_data_seek(m_result->res, 0);
    return next();
}

bool MysqlTextRows::next()
{
    m_result->moved = true;
    m_result->row = m_result->nonBlocking ? mysqlnb::FetchRow(m_result->streamedFrom, m_result->res, m_result->idle)
                                          : mysql_fetch_row(m_result->res);
    m_result->lengths = m_result->row ? mysql_fetch_lengths(m_result->res) : nullptr;
    // The end of a streamed result and a connection lost in the middle of it look alike here.
    if (!m_result->row && m_result->streamedFrom && mysql_errno(m_result->streamedFrom) != 0)
        m_result->error = QString::fromUtf8(mysql_error(m_result->streamedFrom));
    return m_result->row != nullptr;
}

QString MysqlTextRows::errorString() const
{
    return m_result->error;
}

bool MysqlTextRows::isNull(int column) const
{
    return !m_result->row || m_result->row[column] == nullptr;
}

ValueView MysqlTextRows::value(int column) const
{
    ValueView v;
    if (isNull(column))
        return v;
    v.kind = ValueView::Kind::Utf8;
    v.data = m_result->row[column];
    v.size = static_cast<qsizetype>(m_result->lengths[column]);
    return v;
}

QVariant MysqlTextRows::variant(int column) const
{
    if (isNull(column))
        return QVariant();
    return QString::fromUtf8(m_result->row[column], static_cast<qsizetype>(m_result->lengths[column]));
}

QByteArrayView MysqlTextRows::bytes(int column) const
{
    if (isNull(column))
        return {};
    return QByteArrayView(m_result->row[column], static_cast<qsizetype>(m_result->lengths[column]));
}

} // namespace sjql::adtg
