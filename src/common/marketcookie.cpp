#include "common/marketcookie.h"

#include "common/apperror.h"
#include "common/datafolder.h"

#include <QFile>
#include <QSaveFile>

namespace marketcookie {

namespace {
// Far more than any browser's cookie header.
constexpr qint64 maxFileBytes = 64 * 1024;
} // namespace

QString storedFile()
{
    return datafolder::filePath(QStringLiteral("market-cookie"));
}

QByteArray cleaned(QByteArrayView text)
{
    // A line break would end the header and start another.
    qsizetype lineEnd = 0;
    while (lineEnd < text.size() && text[lineEnd] != '\r' && text[lineEnd] != '\n')
        ++lineEnd;
    QByteArray line = text.first(lineEnd).toByteArray().trimmed();
    if (line.toLower().startsWith("cookie:"))
        line = line.sliced(7).trimmed();
    return line;
}

QByteArray read(const QString &fileName)
{
    QFile file(fileName);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw fileError(QStringLiteral("Cannot open file"), fileName, file.errorString());
    return cleaned(file.read(maxFileBytes));
}

void write(const QString &fileName, const QByteArray &cookie)
{
    if (cookie.isEmpty()) {
        QFile::remove(fileName);
        return;
    }
    QSaveFile file(fileName);
    // Owner-only from the moment it exists: the temporary file gets these
    // permissions before anything is written into it.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(cleaned(cookie) + '\n') < 0 || !file.commit())
        throw fileError(QStringLiteral("Cannot create file"), fileName, file.errorString());
}

} // namespace marketcookie
