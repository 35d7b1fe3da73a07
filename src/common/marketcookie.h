#pragma once

#include <QByteArray>
#include <QString>

// The cookie a user copies from a signed-in browser session, for a
// marketplace that shows results only to signed-in visitors. It is a secret:
// kept owner-only and never printed.
namespace marketcookie {

// The file in the data folder the window keeps the cookie in.
QString storedFile();

// The cookie in a file: its first line, without a "Cookie:" prefix and
// surrounding space. Empty when the file is missing or empty. Throws
// AppError when the file exists but cannot be read.
QByteArray read(const QString &fileName);

// Writes the cookie owner-only (0600), replacing the file atomically; an empty
// cookie removes the file. Throws AppError when it cannot be written.
void write(const QString &fileName, const QByteArray &cookie);

// What a cookie line may hold in a request header: its first line, trimmed,
// without a "Cookie:" prefix.
QByteArray cleaned(QByteArrayView text);

} // namespace marketcookie
