// SPDX-License-Identifier: MIT
// Column descriptions and type rules of persisted recordsets in the Advanced Data TableGram (ADTG)
// format, shared by the reader (AdtgReader.h) and the writer (AdtgWriter.h).
//
// Types are the OLE DB wire types of the file; ADO's own numbers (200 to 205 and 8) are mapped
// to and from them by adoType() and AdtgColumn::fromAdoType(). Plain data, no threads involved.
#pragma once

#include <QString>

#include <cstdint>

namespace sjql::adtg {

// ADO DataTypeEnum values used by this module.
enum AdoType : int
{
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adBoolean = 11,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adFileTime = 64,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

// Column flags (OLE DB DBCOLUMNFLAGS).
inline constexpr std::uint32_t FlagWrite = 0x0004;
inline constexpr std::uint32_t FlagWriteUnknown = 0x0008;
inline constexpr std::uint32_t FlagFixedLength = 0x0010;
inline constexpr std::uint32_t FlagIsNullable = 0x0020;
inline constexpr std::uint32_t FlagMayBeNull = 0x0040;
inline constexpr std::uint32_t FlagIsLong = 0x0080;
inline constexpr std::uint32_t FlagIsChapter = 0x2000;
inline constexpr std::uint32_t FlagKeyColumn = 0x8000;

inline constexpr std::uint32_t kUnlimitedLength = 0xFFFFFFFFu;

// Wire types that carry text or bytes with the length rule of variable data.
inline constexpr std::uint16_t kWireBytes = 0x80;
inline constexpr std::uint16_t kWireStr = 0x81;
inline constexpr std::uint16_t kWireWStr = 0x82;
inline constexpr std::uint16_t kWireVarNumeric = 0x8B;

// Size in bytes of one value of a fixed-size wire type; 0 for variable types (0x80, 0x81,
// 0x82, 0x8B, and 0x08 read like 0x82); -1 for a type whose values cannot be sized.
int fixedWireSize(std::uint16_t wireType);

struct AdtgColumn
{
    QString name;
    std::uint16_t wireType = 0;
    std::uint32_t maxLength = 0; // characters for 0x82, bytes otherwise; kUnlimitedLength
    std::uint32_t precision = 0;
    std::int32_t scale = 0;
    std::uint32_t flags = 0;
    bool autoIncrement = false;
    bool visible = true;
    // Base-table information, present only in files written from provider data.
    std::uint16_t baseTableOrdinal = 0;
    std::uint16_t baseColumnOrdinal = 0;
    QString baseColumnName;
    QString baseCatalog;
    QString baseSchema;

    // A NULL is possible and the column owns a bit of the presence map.
    bool nullable() const { return (flags & (FlagIsNullable | FlagMayBeNull)) != 0; }
    bool fixedLength() const { return (flags & FlagFixedLength) != 0; }
    // The type a Windows program sees in Field.Type.
    int adoType() const;
    // Maximum size of one value in bytes for the variable types; kUnlimitedLength when unlimited.
    std::uint64_t maxBytes() const;

    // The descriptor ADO itself writes for a field appended with this type (the plain layout):
    // wire type, maximum length, precision and scale, and flags. maxLength counts characters for
    // the wide text types and bytes otherwise; it is ignored for fixed-size types. An ADO type the
    // writer cannot store gives a column with wireType 0.
    static AdtgColumn fromAdoType(const QString& name, int adoType, std::uint32_t maxLength, bool nullable,
                                  std::uint32_t precision = 0, std::int32_t scale = 0);
};

} // namespace sjql::adtg
