#include "common/apperror.h"

#include "text/gbk.h"

#include <QFileInfo>

AppError fileError(const QString &what, const QString &fileName, const QString &reason)
{
    return AppError(what + QStringLiteral(" \"") + QFileInfo(fileName).absoluteFilePath() +
                    QStringLiteral("\". ") + reason);
}

QString errorBoxText(const QString &message)
{
    // The rule is on the last byte as the program holds the text (GBK).
    const QByteArray bytes = text::toGbk(message);
    if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) > '.')
        return message + QLatin1Char('.');
    return message;
}
