#include "login/credentials.h"

#include "common/apperror.h"
#include "text/bytetext.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
// Three short lines; whatever lies beyond is never needed.
constexpr qint64 readLimit = 4096;
} // namespace

Credentials Credentials::load(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    // Opening a FIFO would hold the start-up until some writer came, and a
    // device may never end.
    if (!info.isFile())
        throw fileError(QStringLiteral("Cannot open file"), fileName, QStringLiteral("Not a regular file"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw fileError(QStringLiteral("Cannot open file"), fileName, file.errorString());
    return fromBytes(file.read(readLimit));
}

Credentials Credentials::fromBytes(const QByteArray &contents)
{
    const QList<QByteArray> lines = text::splitLines(contents);
    if (lines.size() < 3)
        return {};
    if (lines[2] != "1")
        return {State::Forgotten, {}, {}};
    return {State::Remembered, lines[0], lines[1]};
}

QByteArray Credentials::toBytes(bool remember, const QByteArray &userName, const QByteArray &password)
{
    return remember ? userName + "\r\n" + password + "\r\n1\r\n" : QByteArrayLiteral("xxx\r\nxxx\r\nxxx\r\n");
}

void Credentials::save(bool remember, const QByteArray &userName, const QByteArray &password,
                       const QString &fileName)
{
    const QByteArray contents = toBytes(remember, userName, password);
    QSaveFile file(fileName);
    // In a folder the user cannot write, the replacement cannot be made beside
    // the file; writing the file in place keeps the login possible there.
    file.setDirectWriteFallback(true);
    // Unbuffered, so a short write shows at the write and not at the commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw fileError(QStringLiteral("Cannot create file"), fileName, file.errorString());
    if (file.write(contents) != contents.size()) {
        file.cancelWriting();
        throw AppError(QStringLiteral("Stream write error"));
    }
    if (!file.commit())
        throw fileError(QStringLiteral("Cannot create file"), fileName, file.errorString());
}
