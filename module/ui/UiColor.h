// SPDX-License-Identifier: MIT
// Colour helpers: the host and the window descriptions give colours as COLORREF values (0x00BBGGRR).
#pragma once

#include <QColor>

namespace sjql::ui {

inline QColor colorFromRef(quint32 ref)
{
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

inline quint32 refFromColor(const QColor& c)
{
    return static_cast<quint32>(c.red()) | (static_cast<quint32>(c.green()) << 8) |
           (static_cast<quint32>(c.blue()) << 16);
}

// The button-face system colour of the classic desktop the window descriptions were made for.
inline QColor buttonFaceColor()
{
    return QColor(0xF0, 0xF0, 0xF0);
}

} // namespace sjql::ui
