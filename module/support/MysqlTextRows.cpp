// SPDX-License-Identifier: MIT
#include "support/MysqlTextRows.h"

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

struct MysqlTextRows::Result
{
    MYSQL_RES* res = nullptr;
    MYSQL_ROW row = nullptr;
    unsigned long* lengths = nullptr;
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
    const MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (unsigned i = 0; i < mysql_num_fields(res); ++i) {
        if (!plainColumn(fields[i])) {
            return nullptr;
        }
    }
    auto result = std::make_unique<Result>();
    result->res = res;
    return std::unique_ptr<MysqlTextRows>(new MysqlTextRows(std::move(result)));
}

bool MysqlTextRows::first()
{
    mysql_data_seek(m_result->res, 0);
    return next();
}

bool MysqlTextRows::next()
{
    m_result->row = mysql_fetch_row(m_result->res);
    m_result->lengths = m_result->row ? mysql_fetch_lengths(m_result->res) : nullptr;
    return m_result->row != nullptr;
}

bool MysqlTextRows::isNull(int column) const
{
    return !m_result->row || m_result->row[column] == nullptr;
}

QVariant MysqlTextRows::value(int column) const
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
