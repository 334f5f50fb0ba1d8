// SPDX-License-Identifier: MIT
// The rows of a selection read straight from the database client's own buffers.
//
// Going through QSqlQuery costs a QVariant (and for texts a QString) per value, and a scrollable
// query keeps every row of the month in that form until it is finished. A SelectedRows hands out
// each value of the current row as a ValueView that points into the client's buffer: the data-file
// writer and the row digests read it in place. A view stays valid until the row moves.
//
// A view is always one of the forms Qt's driver would hand out for the same value (a 64-bit
// integer, a double, a text, bytes) or the server's UTF-8 text, and toVariant() gives exactly the
// driver's value; readers take the common forms directly and hand the rest to their QVariant code,
// so both ways give the same result. Not thread-safe; used on the thread that opened the connection.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVariant>

namespace sjql::adtg {

struct ValueView
{
    enum class Kind : quint8
    {
        Null,
        Integer, // `integer`, as the driver's qlonglong
        Real,    // `real`, as the driver's double
        Utf16,   // `size` UTF-16 code units at `data`, as the driver's QString
        Utf8,    // `size` bytes of UTF-8 text at `data` (the server's text of any column)
        Bytes,   // `size` bytes at `data`, as the driver's QByteArray
    };
    Kind kind = Kind::Null;
    qint64 integer = 0;
    double real = 0;
    const void* data = nullptr;
    qsizetype size = 0;

    bool isNull() const { return kind == Kind::Null; }
    QStringView utf16() const { return QStringView(static_cast<const char16_t*>(data), size); }
    QByteArrayView bytes() const { return QByteArrayView(static_cast<const char*>(data), size); }

    // The value as the driver gives it: invalid for NULL, else qlonglong, double, QString or QByteArray.
    QVariant toVariant() const
    {
        switch (kind) {
        case Kind::Null:
            return QVariant();
        case Kind::Integer:
            return QVariant(qlonglong(integer));
        case Kind::Real:
            return QVariant(real);
        case Kind::Utf16:
            return QVariant(utf16().toString());
        case Kind::Utf8:
            return QVariant(QString::fromUtf8(bytes()));
        case Kind::Bytes:
            return QVariant(bytes().toByteArray());
        }
        return QVariant();
    }
};

class SelectedRows
{
public:
    virtual ~SelectedRows() = default;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    // Moves to the first row (reading the selection again where it has to); false when there is
    // none or the rows cannot be read (then errorString() says why).
    virtual bool first() = 0;
    // Moves to the next row; false after the last one or on failure.
    virtual bool next() = 0;
    // A value of the current row; valid until the row moves.
    virtual ValueView value(int column) const = 0;
    // Why the last move failed; empty when it just reached the end.
    virtual QString errorString() const { return {}; }
};

} // namespace sjql::adtg
