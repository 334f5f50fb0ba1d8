// SPDX-License-Identifier: MIT
// Reading persisted recordsets in the ADTG format (files ADO writes with Recordset.Save and
// adPersistADTG, and files our AdtgWriter writes).
//
// AdtgRecordset loads one file at a time: open() reads the bytes, checks the whole file (metadata
// and every row) and keeps one small index entry per row; the values of a row are decoded only when
// the cursor reaches it. A damaged, truncated or unsupported file fails open() with a message that
// names the file, the place and the bad value; nothing of it stays open. The reader accepts every
// layout the format allows for flat recordsets: base-table information, hidden columns, changed,
// deleted and inserted rows (the current view is returned, as ADO shows it), the RDS wrapper.
//
// Not thread-safe; use one object per thread.
#pragma once

#include "support/AdtgDetail.h"
#include "support/AdtgTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace sjql::adtg {

// Limits against hostile input.
inline constexpr qint64 kMaxFileBytes = qint64(1) << 30;

// One field of the current row: the column and its value. Values are held as QVariant:
// integers as qlonglong/qulonglong, adSingle as float, adDouble as double, adCurrency as
// qlonglong (amount x 10 000), adDecimal/adNumeric/adVarNumeric as QString (plain decimal),
// dates as QDateTime (adDBDate as QDate, adDBTime as QTime), adBoolean as bool, adGUID as QUuid,
// text as QString, binary as QByteArray; NULL as an invalid QVariant.
class AdtgField
{
public:
    AdtgField() = default;
    AdtgField(const AdtgColumn* column, const QVariant* value) : m_column(column), m_value(value) {}

    bool isValid() const { return m_column != nullptr; }
    const AdtgColumn& column() const { return *m_column; }
    const QVariant& value() const { return *m_value; }
    bool isNull() const { return !m_value || !m_value->isValid(); }

    // Typed reads as the row builders need them. NULL reads as empty text, 0, 0.0 and the day zero
    // of the date scale (1899-12-30 00:00:00).
    QString toText() const;
    qint64 toInteger() const;
    double toAmount() const;
    qint64 toCurrency() const; // amount x 10 000, exact for currency and decimal columns
    QDateTime toDateTime() const;

private:
    const AdtgColumn* m_column = nullptr;
    const QVariant* m_value = nullptr;
};

// Text of a value as the dump tool prints it: plain decimal numbers, dates "yyyy-MM-dd hh:mm:ss",
// times "hh:mm:ss", binary as lower-case hex, GUIDs in braces, booleans True/False. NULL: empty.
QString displayText(const AdtgColumn& column, const QVariant& value);

class AdtgRecordset
{
public:
    AdtgRecordset();
    ~AdtgRecordset();
    AdtgRecordset(const AdtgRecordset&) = delete;
    AdtgRecordset& operator=(const AdtgRecordset&) = delete;

    // Code page of ANSI text (wire type 0x81); the file does not record it. Default "GBK".
    void setAnsiCodePage(const QByteArray& name) { m_ansiCodePage = name; }

    // Loads a file, replacing what was open. On false errorString() says why and nothing is open.
    [[nodiscard]] bool open(const QString& path);
    // The same for bytes in memory; displayName names them in messages.
    [[nodiscard]] bool openData(const QByteArray& data, const QString& displayName = QString());
    void close();
    bool isOpen() const { return m_open; }
    QString errorString() const { return m_error; }
    // Oddities that did not stop reading (row count mismatch, data after the end, ...).
    QStringList warnings() const { return m_warnings; }

    // Rows of the current view (deleted rows left out) and the count the file claims.
    int recordCount() const { return static_cast<int>(m_rows.size()); }
    quint32 storedRowCount() const { return m_storedRowCount; }

    bool eof() const { return !m_open || m_position >= recordCount(); }
    int position() const { return m_position; }
    void moveFirst();
    void moveNext();
    // Moves to row `position` (0-based) of the current view; at or past the end: eof().
    void moveTo(int position);

    // Visible columns, in ordinal order.
    int fieldCount() const { return static_cast<int>(m_visible.size()); }
    const AdtgColumn& column(int index) const { return m_columns[m_visible[index]]; }
    // Index of a visible column by name, compared without regard to case; -1 when there is none.
    int fieldIndex(QStringView name) const;
    // The field of the current row; an invalid field for an unknown name or at end of data.
    AdtgField field(int index) const;
    AdtgField field(QStringView name) const;
    // Typed reads of the current row's field `index`, the same as field(index).toText(),
    // toInteger(), toCurrency() and toDateTime().date() give, but read straight from the file's
    // bytes for the types the module's data files use (no value object in between). textAt fills
    // `out`, reusing its memory.
    void textAt(int index, QString& out) const;
    qint64 integerAt(int index) const;
    qint64 currencyAt(int index) const;
    QDate dateAt(int index) const;
    // False with *error naming the file and the first column that is missing.
    [[nodiscard]] bool requireFields(const QStringList& names, QString* error) const;

    // Visible field `index` of the current row read in place, for the kinds a month's data file
    // is made of, with no value object: what field(index).value() holds, as a NULL, an integer
    // (wire types of up to 32 bits and signed 64 bits), a scaled integer (DECIMAL, NUMERIC) or
    // wide text (filled into `text`, reusing its memory). Other for every other type and for
    // anything out of the ordinary (a scale above its type's limit, an odd text length): there
    // only field() tells.
    struct InPlace
    {
        enum class Kind
        {
            Null,
            Integer,
            Scaled,
            Text,
            Other,
        };
        Kind kind = Kind::Other;
        qint64 integer = 0;
        detail::Magnitude magnitude = 0; // Scaled: the value is -1^negative x magnitude x 10^-scale
        int scale = 0;
        bool negative = false;
    };
    InPlace inPlace(int index, QString& text) const;

private:
    struct RowRef
    {
        qsizetype original = -1; // offset of the 07 or 0D token
        qsizetype change = -1;   // offset of the 0A token applying to it
        bool inserted = false;
    };
    friend class Parser;

    bool fail(const QString& message);
    void decodeCurrent();
    // The value of column c (all columns) of the current row, decoded on first use.
    const QVariant& currentValue(int c) const;
    // What a typed read finds of visible field `index` in the current row: the bytes of its value
    // (after a variable value's length), its column and length. `null` for a NULL, an unknown
    // field or no current row; without bytes and not null, only the decoded field can tell.
    struct RawField
    {
        const unsigned char* bytes = nullptr;
        const AdtgColumn* column = nullptr;
        quint32 length = 0;
        bool null = false;
    };
    RawField rawField(int index) const;

    QByteArray m_ansiCodePage = QByteArrayLiteral("GBK");
    QString m_name;
    QByteArray m_data;
    bool m_open = false;
    QString m_error;
    QStringList m_warnings;
    std::vector<AdtgColumn> m_columns;
    std::vector<int> m_visible;
    std::vector<RowRef> m_rows;
    quint32 m_storedRowCount = 0;
    int m_position = 0;
    int m_nullableCount = 0;
    std::vector<qsizetype> m_slots;      // where each value of the current row starts; -1 NULL
    mutable std::vector<char> m_decoded; // which of m_current hold the row's values
    mutable std::vector<QVariant> m_current;
};

} // namespace sjql::adtg
