#include "app/apperror.h"

#include "text/gbk.h"

QString errorBoxText(const QString &message)
{
    // The rule is on the last byte as the program holds the text (GBK).
    const QByteArray bytes = text::toGbk(message);
    if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) > '.')
        return message + QLatin1Char('.');
    return message;
}
