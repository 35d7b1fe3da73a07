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
        Network,   // no connection, a broken or silent transfer, a size limit
        Protocol,  // the service answered with an error status or a malformed header
        Cancelled, // the program is quitting
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

// Where the requests of one call go and where their answers come from. The
// exchange only writes and reads bytes through it, so it can be driven from a
// socket or from a buffer alike.
class AccountTransport
{
public:
    enum class Received
    {
        Bytes,    // some bytes were appended
        Closed,   // the peer has closed; nothing more will come
        TimedOut, // nothing arrived within the time-out
    };

    virtual ~AccountTransport() = default;
    // Connects to host:port, closing any earlier connection. Throws AccountRequestError.
    virtual void open(const QByteArray &host, quint16 port, std::chrono::milliseconds timeout) = 0;
    virtual bool isOpenTo(const QByteArray &host, quint16 port) const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Appends what has arrived to buffer, waiting at most timeout for it.
    virtual Received receive(QByteArray &buffer, std::chrono::milliseconds timeout) = 0;
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
        // Longest a whole call may take, redirects included. A per-read
        // time-out alone never ends a server that trickles a byte at a time.
        std::chrono::milliseconds totalTimeout{120'000};
        qsizetype maxLineLength = 16'384;
        // Guards against a server that never ends its headers or its body.
        // Interim answers count too. A real answer's head is a few hundred bytes.
        qsizetype maxHeaderBytes = 64 << 10;
        // A real login sets a handful; storing cookies costs time that grows
        // with the square of their number, so the rest are ignored.
        int maxCookies = 64;
        // The answer is a profile of about a kilobyte, and the XML reader's
        // time grows with the square of an element's attribute count.
        qsizetype maxBodyBytes = 64 << 10;
        int maxRequests = 15;
    };

    AccountRequest() = default;
    explicit AccountRequest(const Settings &settings) : m_settings(settings) {}

    // Throws AccountRequestError. After the maximum number of redirects the
    // result is empty, without error. Once the application is quitting
    // (QCoreApplication::exit()), every wait ends the call as Cancelled.
    QByteArray get(const QByteArray &url) const;
    // The same exchange over another transport.
    QByteArray get(const QByteArray &url, AccountTransport &transport) const;

private:
    Settings m_settings;
};
