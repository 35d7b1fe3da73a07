#include "text/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace text {

QString fromGbk(QByteArrayView bytes)
{
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

QByteArray toGbk(QStringView string)
{
    // The ICU converter already writes "?" for unmappable characters.
    QStringEncoder encoder("GBK");
    return encoder.encode(string);
}

} // namespace text
