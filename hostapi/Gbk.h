// SPDX-License-Identifier: MIT
// The one GBK (code page 936) codec of host and module.
//
// Qt's ICU-backed "GBK" codec is the Windows code page 936 (0x80 is the euro sign, user-defined
// areas map to the private-use area), so bytes written here match what a Windows installation
// writes. A character with no GBK form becomes "?", as the Windows ANSI conversion does.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace sjql {

inline QByteArray toGbk(QStringView text)
{
    // Plain ASCII is the same in GBK; most texts (names, codes, periods) are, and opening the ICU
    // converter costs far more than the conversion.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return text.toLatin1();
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

inline QString fromGbk(QByteArrayView bytes)
{
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return QString::fromLatin1(bytes);
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

inline QString fromGbk(const char* text)
{
    return text ? fromGbk(QByteArrayView(text)) : QString();
}

// Cuts GBK bytes to at most `maxBytes` without splitting a two-byte character.
inline QByteArray truncateGbk(const QByteArray& gbk, qsizetype maxBytes)
{
    if (gbk.size() <= maxBytes)
        return gbk;
    qsizetype i = 0;
    while (i < maxBytes) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        const qsizetype width = (lead >= 0x81 && lead <= 0xFE) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return gbk.left(i);
}

} // namespace sjql
