// SPDX-License-Identifier: MIT
#include "context/DbKind.h"

namespace sjql {

TDBKind DBKindFromTypeName(const QString& typeName)
{
    // The order of the comparisons is the original's: upper-cased, except MSDE which is exact.
    const QString upper = typeName.toUpper();
    if (upper == QLatin1String("MSACCESS"))
        return dbkAccess;
    if (typeName == QLatin1String("MSDE"))
        return dbkMSDE;
    if (upper == QLatin1String("MSSQLSERVER"))
        return dbkSQLServer;
    if (upper == QLatin1String("ORACLE"))
        return dbkOracle;
    if (upper == QLatin1String("MYSQL"))
        return dbkMySQL;
    if (upper == QLatin1String("SQLITE"))
        return dbkSQLite;
    return dbkAccess;
}

} // namespace sjql
