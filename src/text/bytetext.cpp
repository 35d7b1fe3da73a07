#include "text/bytetext.h"

#include "text/gbk.h"

namespace text {

qsizetype position(QByteArrayView needle, QByteArrayView haystack)
{
    if (needle.isEmpty() || haystack.isEmpty())
        return 0;
    return haystack.indexOf(needle) + 1;
}

QByteArrayView fromByte(QByteArrayView text, qsizetype n)
{
    const qsizetype start = n < 1 ? 0 : n - 1;
    if (start >= text.size())
        return {};
    return text.sliced(start);
}

QByteArrayView firstBytes(QByteArrayView text, qsizetype n)
{
    if (n <= 0)
        return {};
    return text.first(qMin(n, text.size()));
}

QByteArray deleteEvery(QByteArrayView text, QByteArrayView x)
{
    if (x.isEmpty())
        return text.toByteArray();
    QByteArray result;
    result.reserve(text.size());
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(x, from); at >= 0; at = text.indexOf(x, from)) {
        result.append(text.sliced(from, at - from));
        from = at + x.size();
    }
    result.append(text.sliced(from));
    return result;
}

QList<QByteArray> split(QByteArrayView text, QByteArrayView delimiter)
{
    QList<QByteArray> parts;
    if (text.isEmpty())
        return parts;
    if (delimiter.isEmpty()) {
        parts.append(text.toByteArray());
        return parts;
    }
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(delimiter, from); at >= 0; at = text.indexOf(delimiter, from)) {
        parts.append(text.sliced(from, at - from).toByteArray());
        from = at + delimiter.size();
    }
    parts.append(text.sliced(from).toByteArray());
    return parts;
}

QList<QByteArray> splitLines(QByteArrayView text)
{
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text = text.first(zero);
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.sliced(start, i - start).toByteArray());
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start).toByteArray());
    return lines;
}

QByteArray foldCase(QByteArrayView text)
{
    QByteArray folded(text.data(), text.size());
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const auto byte = static_cast<unsigned char>(folded[i]);
        if (isGbkLeadByte(byte))
            ++i; // keep the trail byte as it is
        else if (byte >= 'A' && byte <= 'Z')
            folded[i] = char(byte + ('a' - 'A'));
    }
    return folded;
}

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && foldCase(a) == foldCase(b);
}

} // namespace text
