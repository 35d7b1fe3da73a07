#pragma once

#include <QString>
#include <exception>

// An error that ends the user action it occurs in and is shown in the
// standard error box (see UserMessages::showError). The message is display
// text: our own wording, a file name or a reason from a library.
class AppError : public std::exception
{
public:
    explicit AppError(QString message) : m_message(std::move(message)) {}

    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return "AppError"; }

private:
    QString m_message;
};

// "Cannot open file" or "Cannot create file" (what), the file's full path as it
// resolves now in double quotes, ". " and the system's reason.
AppError fileError(const QString &what, const QString &fileName, const QString &reason);

// The standard error box's text: the message with "." added when its last
// character sorts above "." (so none follows ")" or ".").
QString errorBoxText(const QString &message);
