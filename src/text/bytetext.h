#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Byte-text rules shared by the parser, the credentials file and the login
// exchange. Positions are 1-based byte offsets, 0 meaning "not found", so that
// arithmetic on them reads the same everywhere.
namespace text {

// 1-based offset of the first occurrence of needle in haystack (plain byte
// comparison); 0 when it does not occur or either text is empty.
qsizetype position(QByteArrayView needle, QByteArrayView haystack);

// The bytes from 1-based offset n to the end; n below 1 counts as 1; empty past the end.
QByteArrayView fromByte(QByteArrayView text, qsizetype n);

// Empty for n <= 0, all of text when n is at least its length.
QByteArrayView firstBytes(QByteArrayView text, qsizetype n);

// Removes each occurrence of x scanning from the left; what a removal brings
// together is not scanned again ("      " minus "    " keeps two spaces).
QByteArray deleteEvery(QByteArrayView text, QByteArrayView x);

// The parts between successive non-overlapping occurrences of delimiter plus
// the remainder: k occurrences give k + 1 parts. An empty text gives no parts.
QList<QByteArray> split(QByteArrayView text, QByteArrayView delimiter);

// Lines ending at CR, LF or CR LF; a zero byte ends the text. A final line
// without a line end still counts; nothing after the last line end does.
QList<QByteArray> splitLines(QByteArrayView text);

// ASCII letters folded to lower case, but only outside GBK double-byte
// characters: a trail byte may look like a Latin letter.
QByteArray foldCase(QByteArrayView text);

// Equal when letter case is ignored by the rule of foldCase.
bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b);

} // namespace text
