#include "net/accountrequest.h"

#include "text/bytetext.h"
#include "text/gbk.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <utility>

namespace {

AccountRequestError networkError(const char *message)
{
    return AccountRequestError(AccountRequestError::Kind::Network, QString::fromLatin1(message));
}

AccountRequestError cancelled()
{
    return AccountRequestError(AccountRequestError::Kind::Cancelled,
                               QStringLiteral("The program is quitting."));
}

// The bytes before the first separator; all of them when there is none.
QByteArray beforeFirst(const QByteArray &bytes, char separator)
{
    const qsizetype at = bytes.indexOf(separator);
    return at < 0 ? bytes : bytes.left(at);
}

// Where one request goes and what it asks for, from a URL as the program holds it.
struct Target
{
    QByteArray host;
    QByteArray portText;
    quint16 port = 0;
    QByteArray requestTarget; // path + document + query, the fragment cut off

    // Up to and including the last "/" before the query.
    QByteArray path() const
    {
        const QByteArray beforeQuery = beforeFirst(requestTarget, '?');
        return beforeQuery.left(beforeQuery.lastIndexOf('/') + 1);
    }
    QByteArray origin() const { return "http://" + host + ':' + portText; }
};

// "\" becomes "/", except where it is the trail byte of a GBK character.
QByteArray withForwardSlashes(QByteArray url)
{
    for (qsizetype i = 0; i < url.size(); ++i) {
        if (text::isGbkLeadByte(static_cast<unsigned char>(url[i])))
            ++i;
        else if (url[i] == '\\')
            url[i] = '/';
    }
    return url;
}

Target prepare(const QByteArray &url)
{
    const QByteArray prepared = withForwardSlashes(url);
    QByteArray scheme = "http";
    QByteArray rest = prepared;
    const qsizetype schemeEnd = prepared.indexOf("://");
    if (schemeEnd >= 0) {
        scheme = prepared.left(schemeEnd);
        rest = prepared.mid(schemeEnd + 3);
    }
    if (text::equalsIgnoringCase(scheme, "https"))
        throw networkError("https is not supported.");
    if (!text::equalsIgnoringCase(scheme, "http"))
        throw networkError("Unknown protocol.");

    Target target;
    const qsizetype slash = rest.indexOf('/');
    const QByteArray hostAndPort = slash < 0 ? rest : rest.left(slash);
    const QByteArray resource = slash < 0 ? QByteArray("/") : rest.mid(slash);
    const qsizetype colon = hostAndPort.indexOf(':');
    target.host = beforeFirst(hostAndPort, ':');
    target.portText = colon < 0 ? QByteArray("80") : hostAndPort.mid(colon + 1);
    bool portValid = false;
    target.port = target.portText.toUShort(&portValid);
    if (!portValid || target.port == 0)
        throw networkError("Invalid port.");

    // The fragment starts at the first "#" after the path: in the document, or
    // else in the query. It is never sent.
    const qsizetype question = resource.indexOf('?');
    const qsizetype pathEnd = resource.lastIndexOf('/', question < 0 ? resource.size() - 1 : question) + 1;
    const qsizetype hash = resource.indexOf('#', pathEnd);
    target.requestTarget = hash < 0 ? resource : resource.left(hash);
    return target;
}

// Resolves "." and ".." in a path that starts with "/".
QByteArray withoutDotSegments(const QByteArray &path)
{
    const QList<QByteArray> segments = path.split('/');
    QList<QByteArray> kept;
    for (qsizetype i = 1; i < segments.size(); ++i) {
        const QByteArray &segment = segments[i];
        const bool last = i == segments.size() - 1;
        if (segment == "." || segment == "..") {
            if (segment == ".." && !kept.isEmpty())
                kept.removeLast();
            if (last)
                kept.append(QByteArray());
            continue;
        }
        kept.append(segment);
    }
    return '/' + kept.join('/');
}

QByteArray resolveLocation(const Target &current, const QByteArray &location)
{
    const qsizetype schemeEnd = location.indexOf("://");
    if (schemeEnd > 0 && location.left(schemeEnd).indexOf('/') < 0 &&
        location.left(schemeEnd).indexOf('?') < 0)
        return location;
    const QByteArray absolute = location.startsWith('/') ? location : current.path() + location;
    const qsizetype question = absolute.indexOf('?');
    const qsizetype pathEnd = question < 0 ? absolute.size() : question;
    return current.origin() + withoutDotSegments(absolute.left(pathEnd)) + absolute.mid(pathEnd);
}

QByteArray requestBytes(const Target &target, const QByteArray &cookies)
{
    QByteArray request = "GET " + target.requestTarget + " HTTP/1.1\r\n";
    request += "Content-Type: text/html\r\n";
    request += "Host: " + target.host;
    if (target.portText != "80")
        request += ':' + target.portText;
    request += "\r\n";
    request += "Accept: text/html, */*\r\n";
    request += "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
    if (!cookies.isEmpty())
        request += "Cookie: " + cookies + "\r\n";
    request += "\r\n";
    return request;
}

// One network wait: a local event loop that any socket event or the time-out
// ends, so the program keeps handling its events meanwhile.
class SocketWait
{
public:
    SocketWait(QTcpSocket &socket, std::chrono::milliseconds timeout)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&socket, &QTcpSocket::connected, &m_loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::readyRead, &m_loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::disconnected, &m_loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &m_loop, &QEventLoop::quit);
        QObject::connect(&m_timer, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        m_timer.start(timeout);
    }

    // After QCoreApplication::exit() every exec() returns at once (-1) and
    // the timer can no longer fire: waiting on would spin for ever.
    void untilNextEvent()
    {
        if (m_loop.exec() != 0)
            throw cancelled();
    }
    bool expired() const { return !m_timer.isActive(); }

private:
    QEventLoop m_loop;
    QTimer m_timer;
};

// The socket of one call. Every wait runs a local event loop until data, the
// peer's close, an error or the time-out.
class SocketTransport final : public AccountTransport
{
public:
    SocketTransport()
    {
        // Lets a flood stop at the socket instead of in memory while we wait.
        m_socket.setReadBufferSize(64 * 1024);
    }

    void open(const QByteArray &host, quint16 port, std::chrono::milliseconds timeout) override
    {
        m_socket.abort();
        m_host = host;
        m_port = port;
        m_socket.connectToHost(QString::fromLatin1(host), port);
        SocketWait wait(m_socket, timeout);
        while (m_socket.state() != QAbstractSocket::ConnectedState &&
               m_socket.state() != QAbstractSocket::UnconnectedState && !wait.expired())
            wait.untilNextEvent();
        if (isOpen())
            return;
        const QString reason = m_socket.errorString();
        m_socket.abort();
        if (wait.expired())
            throw networkError("Connect timed out.");
        throw AccountRequestError(AccountRequestError::Kind::Network, reason);
    }

    bool isOpenTo(const QByteArray &host, quint16 port) const override
    {
        return isOpen() && m_host == host && m_port == port;
    }

    void write(const QByteArray &bytes) override { m_socket.write(bytes); }

    Received receive(QByteArray &buffer, std::chrono::milliseconds timeout) override
    {
        if (absorb(buffer))
            return Received::Bytes;
        SocketWait wait(m_socket, timeout);
        while (isOpen()) {
            wait.untilNextEvent();
            if (absorb(buffer))
                return Received::Bytes;
            if (wait.expired())
                return Received::TimedOut;
        }
        return absorb(buffer) ? Received::Bytes : Received::Closed;
    }

private:
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    bool absorb(QByteArray &buffer)
    {
        const QByteArray arrived = m_socket.readAll();
        buffer += arrived;
        return !arrived.isEmpty();
    }

    QTcpSocket m_socket;
    QByteArray m_host;
    quint16 m_port = 0;
};

// The answers of one call, read through a buffer of our own from the
// transport. Every wait ends at the read time-out or at the call's deadline,
// whichever comes first.
class AnswerReader
{
public:
    AnswerReader(AccountTransport &transport, const AccountRequest::Settings &settings)
        : m_transport(transport), m_settings(settings), m_deadline(settings.totalTimeout)
    {
    }

    bool isOpenTo(const Target &target) const { return m_transport.isOpenTo(target.host, target.port); }

    void open(const Target &target)
    {
        m_buffer.clear();
        m_transport.open(target.host, target.port, std::min(m_settings.connectTimeout, remaining()));
    }

    void write(const QByteArray &bytes) { m_transport.write(bytes); }

    // Throws once the call's time is used up, so no step starts after it.
    void checkDeadline() const { remaining(); }

    // The next line without its LF and a CR before it; nothing when the peer
    // closed before a whole line arrived.
    std::optional<QByteArray> readLine(std::chrono::milliseconds timeout)
    {
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\n');
            if (end >= 0) {
                QByteArray line = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                if (line.size() > m_settings.maxLineLength)
                    throw networkError("Max line length exceeded.");
                return line;
            }
            if (m_buffer.size() > m_settings.maxLineLength + 1)
                throw networkError("Max line length exceeded.");
            if (!waitForMore(timeout))
                return std::nullopt;
        }
    }

    // Up to count bytes: fewer when the peer closes first.
    QByteArray read(qsizetype count, std::chrono::milliseconds timeout)
    {
        while (m_buffer.size() < count && waitForMore(timeout)) {
        }
        QByteArray bytes = m_buffer.left(count);
        m_buffer.remove(0, bytes.size());
        return bytes;
    }

    // Everything until the peer closes, failing once more than limit bytes arrived.
    QByteArray readToClose(qsizetype limit, std::chrono::milliseconds timeout)
    {
        while (m_buffer.size() <= limit && waitForMore(timeout)) {
        }
        if (m_buffer.size() > limit)
            throw networkError("Answer too large.");
        return std::exchange(m_buffer, {});
    }

private:
    // What is left of the call's time; throws once it is used up.
    std::chrono::milliseconds remaining() const
    {
        if (m_deadlineReached || m_deadline.hasExpired())
            throw networkError("Exchange timed out.");
        return std::chrono::milliseconds(m_deadline.remainingTime());
    }

    // True when more bytes arrived, false when the peer has closed. A silence
    // longer than the time-out, or reaching the deadline, fails the call.
    bool waitForMore(std::chrono::milliseconds timeout)
    {
        const std::chrono::milliseconds left = remaining();
        const bool deadlineFirst = left < timeout;
        switch (m_transport.receive(m_buffer, deadlineFirst ? left : timeout)) {
        case AccountTransport::Received::Bytes:
            return true;
        case AccountTransport::Received::Closed:
            return false;
        case AccountTransport::Received::TimedOut:
            break;
        }
        // A wait that ended at the deadline has used up the call, even when the
        // timer woke a moment before the deadline counts as expired: a caller
        // that ignores this error (a redirect body) must not start another request.
        m_deadlineReached = m_deadlineReached || deadlineFirst;
        throw networkError(deadlineFirst ? "Exchange timed out." : "Read timed out.");
    }

    AccountTransport &m_transport;
    const AccountRequest::Settings &m_settings;
    const QDeadlineTimer m_deadline;
    bool m_deadlineReached = false;
    QByteArray m_buffer;
};

struct AnswerHead
{
    QByteArray statusLine;
    int statusCode = -1;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool complete = true; // the empty line after the headers arrived

    QByteArray header(QByteArrayView name) const
    {
        for (const auto &[key, value] : headers)
            if (text::equalsIgnoringCase(key, name))
                return value;
        return {};
    }
    bool hasHeader(QByteArrayView name) const
    {
        return std::any_of(headers.cbegin(), headers.cend(), [name](const auto &header) {
            return text::equalsIgnoringCase(header.first, name);
        });
    }
    bool isRedirect() const
    {
        return (statusCode >= 300 && statusCode < 400 && statusCode != 304) || !header("Location").isEmpty();
    }
    bool keepsConnection() const
    {
        return !text::equalsIgnoringCase(header("Connection"), "close") &&
               !text::equalsIgnoringCase(header("Proxy-Connection"), "close");
    }
};

int statusCodeOf(const QByteArray &statusLine)
{
    bool isNumber = false;
    const int code = statusLine.split(' ').value(1).toInt(&isNumber, 10);
    return isNumber ? code : -1;
}

// Status line and headers; interim 100 answers are skipped. Every line of
// them, interim answers and empty lines included, counts against the header
// limit, so a flood of interim answers ends like an endless header block.
AnswerHead readHead(AnswerReader &reader, const AccountRequest::Settings &settings)
{
    qsizetype headerBytes = 0;
    const auto nextLine = [&] {
        std::optional<QByteArray> line = reader.readLine(settings.readTimeout);
        if (line) {
            headerBytes += line->size() + 1;
            if (headerBytes > settings.maxHeaderBytes)
                throw networkError("Header block too large.");
        }
        return line;
    };
    for (;;) {
        const std::optional<QByteArray> statusLine = nextLine();
        if (!statusLine)
            throw networkError("Connection closed gracefully.");
        AnswerHead head;
        head.statusLine = *statusLine;
        head.statusCode = statusCodeOf(*statusLine);
        for (;;) {
            const std::optional<QByteArray> line = nextLine();
            if (!line) {
                head.complete = false;
                break;
            }
            if (line->isEmpty())
                break;
            const qsizetype colon = line->indexOf(':');
            if (colon > 0)
                head.headers.append({line->left(colon).trimmed(), line->mid(colon + 1).trimmed()});
        }
        if (head.statusCode != 100)
            return head;
    }
}

bool isSetCookie(QByteArrayView name)
{
    return text::equalsIgnoringCase(name, "Set-cookie") || text::equalsIgnoringCase(name, "Set-cookie2");
}

// A CR inside a Location or Set-Cookie value would go raw into the next
// request and start header lines of the server's choosing there.
void refuseLineBreaksInCarriedHeaders(const AnswerHead &head)
{
    for (const auto &[name, value] : head.headers) {
        if ((isSetCookie(name) || text::equalsIgnoringCase(name, "Location")) &&
            (value.contains('\r') || value.contains('\n')))
            throw AccountRequestError(AccountRequestError::Kind::Protocol,
                                      QStringLiteral("Line break inside a header value."), head.statusCode,
                                      head.statusLine);
    }
}

// A chunk size in hexadecimal, cut at the first space; 0 when the text is not a
// hexadecimal number, nothing when it exceeds limit.
std::optional<qsizetype> chunkSize(const QByteArray &sizeLine, qsizetype limit)
{
    const QByteArray digits = beforeFirst(sizeLine, ' ');
    qsizetype size = 0;
    for (const char digit : digits) {
        const char lower = char(digit | 0x20);
        const int value = digit >= '0' && digit <= '9'   ? digit - '0'
                          : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                         : -1;
        if (value < 0)
            return 0;
        size = size * 16 + value;
        if (size > limit)
            return std::nullopt;
    }
    return digits.isEmpty() ? 0 : size;
}

QByteArray readChunked(AnswerReader &reader, std::chrono::milliseconds timeout, qsizetype limit)
{
    QByteArray body;
    for (;;) {
        const std::optional<QByteArray> sizeLine = reader.readLine(timeout);
        if (!sizeLine)
            throw networkError("Connection closed in a chunked body.");
        const std::optional<qsizetype> size = chunkSize(*sizeLine, limit - body.size());
        if (!size)
            throw networkError("Answer too large.");
        if (*size == 0) {
            reader.readLine(timeout);
            return body;
        }
        const QByteArray chunk = reader.read(*size, timeout);
        if (chunk.size() < *size)
            throw networkError("Connection closed in a chunked body.");
        body += chunk;
        reader.readLine(timeout);
    }
}

QByteArray readBody(AnswerReader &reader, const AnswerHead &head, std::chrono::milliseconds timeout,
                    qsizetype limit)
{
    bool lengthValid = false;
    const qint64 length = head.header("Content-Length").toLongLong(&lengthValid);
    if (lengthValid && length >= 1) {
        // A body that ends early is what arrived; one beyond the limit fails.
        const QByteArray body = reader.read(qsizetype(std::min<qint64>(length, qint64(limit) + 1)), timeout);
        if (body.size() > limit)
            throw networkError("Answer too large.");
        return body;
    }
    if (head.header("Transfer-Encoding").contains("chunked"))
        return readChunked(reader, timeout, limit);
    if (!head.hasHeader("Content-Length"))
        return reader.readToClose(limit, timeout);
    return {};
}

// Cookies set by the answers of one call, offered to its later requests. At
// most `limit` of them are kept; later ones are ignored.
class CookieStore
{
public:
    explicit CookieStore(int limit) : m_left(limit) {}

    void store(const AnswerHead &head, const Target &target)
    {
        for (const auto &[name, value] : head.headers) {
            if (!isSetCookie(name))
                continue;
            QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(value);
            cookies = cookies.first(std::min(cookies.size(), m_left));
            m_left -= cookies.size();
            m_jar.setCookiesFromUrl(cookies, urlOf(target));
        }
    }

    QByteArray headerValue(const Target &target) const
    {
        QList<QByteArray> pairs;
        for (const QNetworkCookie &cookie : m_jar.cookiesForUrl(urlOf(target)))
            pairs.append(cookie.toRawForm(QNetworkCookie::NameAndValueOnly));
        return pairs.join("; ");
    }

private:
    // The whole request path: a cookie whose Path names a script is sent to that script.
    static QUrl urlOf(const Target &target)
    {
        return QUrl::fromEncoded(target.origin() +
                                 beforeFirst(target.requestTarget, '?').toPercentEncoding("/"));
    }

    QNetworkCookieJar m_jar;
    qsizetype m_left;
};

} // namespace

QByteArray AccountRequest::get(const QByteArray &url) const
{
    SocketTransport socket;
    return get(url, socket);
}

QByteArray AccountRequest::get(const QByteArray &url, AccountTransport &transport) const
{
    AnswerReader reader(transport, m_settings);
    CookieStore cookies(m_settings.maxCookies);
    QByteArray current = url;
    bool keepOpen = false;
    for (int count = 1;; ++count) {
        reader.checkDeadline();
        const Target target = prepare(current);
        if (!keepOpen || !reader.isOpenTo(target))
            reader.open(target);
        reader.write(requestBytes(target, count > 1 ? cookies.headerValue(target) : QByteArray()));

        const AnswerHead head = readHead(reader, m_settings);
        refuseLineBreaksInCarriedHeaders(head);
        reader.checkDeadline();
        cookies.store(head, target);
        keepOpen = head.keepsConnection();

        if (head.isRedirect()) {
            try {
                readBody(reader, head, m_settings.redirectBodyTimeout, m_settings.maxBodyBytes);
            } catch (const AccountRequestError &) {
                // What is left of that body would be read as the next answer.
                keepOpen = false;
            }
            if (count >= m_settings.maxRequests)
                return {};
            current = resolveLocation(target, head.header("Location"));
            continue;
        }
        if (!head.complete)
            throw networkError("Connection closed gracefully.");
        if (head.statusCode >= 200 && head.statusCode < 300)
            return head.statusCode == 204
                       ? QByteArray()
                       : readBody(reader, head, m_settings.readTimeout, m_settings.maxBodyBytes);

        QByteArray body;
        try {
            body = readBody(reader, head, m_settings.errorBodyTimeout, m_settings.maxBodyBytes);
        } catch (const AccountRequestError &) {
            // The error is the status; a broken body does not change it.
        }
        throw AccountRequestError(AccountRequestError::Kind::Protocol, text::fromGbk(head.statusLine),
                                  head.statusCode, head.statusLine, body);
    }
}
