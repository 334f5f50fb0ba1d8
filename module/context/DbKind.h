// SPDX-License-Identifier: MIT
// The database kind behind the host connection, and how a type name selects it. Plain data: the
// row builders and the statement texts depend on it without pulling in the host context.
#pragma once

#include <QString>

namespace sjql {

// The database kind behind the host connection.
enum TDBKind
{
    dbkAccess = 0,
    dbkMSDE = 1,
    dbkSQLServer = 2,
    dbkOracle = 3,
    dbkMySQL = 4,
    dbkSQLite = 5, // added for the embedded default: "SQLITE" in any letter case
};

// The kind a type name selects: "MSACCESS" (any case), also any other or empty name -> dbkAccess;
// "MSDE" (upper case only) -> dbkMSDE; "MSSQLSERVER", "ORACLE", "MYSQL", "SQLITE" (any case).
TDBKind DBKindFromTypeName(const QString& typeName);

} // namespace sjql
