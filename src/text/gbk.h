#pragma once

#include <QByteArray>
#include <QString>

// The program holds every text as GBK bytes; these two convert at the display
// edge and wherever a library hands us UTF-16 (the XML reader, command-line
// arguments).
namespace text {

QString fromGbk(QByteArrayView bytes);

// Characters GBK lacks become "?".
QByteArray toGbk(QStringView string);

// A byte that opens a GBK double-byte character.
constexpr bool isGbkLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

} // namespace text
