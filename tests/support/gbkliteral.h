#pragma once

#include "text/gbk.h"

#include <QByteArray>
#include <QString>

namespace testsupport {

// The GBK bytes of a literal written in UTF-8 source, as the program holds text.
inline QByteArray gbk(const QString &text)
{
    return text::toGbk(text);
}

inline QByteArray gbk(const char *utf8)
{
    return gbk(QString::fromUtf8(utf8));
}

} // namespace testsupport
