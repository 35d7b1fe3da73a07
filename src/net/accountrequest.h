#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <exception>

// Why an account-service call failed. The login treats every kind alike; the
// kind and the status details are there for tests and diagnostics.
class AccountRequestError : public std::exception
{
public:
    enum class Kind
    {
        Network,  // no connection, a broken or silent transfer, a size limit
        Protocol, // the service answered with an error status
    };

    AccountRequestError(Kind kind, QString message, int statusCode = 0, QByteArray statusLine = {},
                        QByteArray body = {})
        : m_kind(kind), m_message(std::move(message)), m_statusCode(statusCode),
          m_statusLine(std::move(statusLine)), m_body(std::move(body))
    {
    }

    Kind kind() const { return m_kind; }
    const QString &message() const { return m_message; }
    int statusCode() const { return m_statusCode; }
    const QByteArray &statusLine() const { return m_statusLine; }
    const QByteArray &body() const { return m_body; }
    const char *what() const noexcept override { return "AccountRequestError"; }

private:
    Kind m_kind;
    QString m_message;
    int m_statusCode;
    QByteArray m_statusLine;
    QByteArray m_body;
};

// One GET against the account service, over a plain TCP socket because the
// service expects an exact request: the header set and order below, and the
// target byte for byte (GBK bytes, spaces and all, never percent-encoded).
// Redirects are followed with the cookies they set; the body of the final
// answer comes back as received. The call returns only when the exchange is
// over, but runs a local event loop during every network wait, so the windows
// keep working (and may even start other work) meanwhile.
class AccountRequest
{
public:
    struct Settings
    {
        std::chrono::milliseconds connectTimeout{120'000};
        // Longest silence while an answer is awaited; a silent server fails the call.
        std::chrono::milliseconds readTimeout{30'000};
        std::chrono::milliseconds redirectBodyTimeout{4'000};
        std::chrono::milliseconds errorBodyTimeout{2'000};
        qsizetype maxLineLength = 16'384;
        // Guards against a server that never ends its headers or its body.
        qsizetype maxHeaderBytes = 1 << 20;
        qsizetype maxBodyBytes = 64 << 20;
        int maxRequests = 15;
    };

    AccountRequest() = default;
    explicit AccountRequest(const Settings &settings) : m_settings(settings) {}

    // Throws AccountRequestError. After the maximum number of redirects the
    // result is empty, without error.
    QByteArray get(const QByteArray &url) const;

private:
    Settings m_settings;
};
