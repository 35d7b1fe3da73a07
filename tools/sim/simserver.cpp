#include "simserver.h"

#include "accountservice.h"

#include <QHostAddress>
#include <QPointer>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace sim {

namespace {

// A request head larger than this is not a request of ours; the connection is closed.
constexpr qsizetype maxHeadBytes = 64 * 1024;

// The value of key in a query string, percent-escapes decoded. Values arrive
// raw as well (spaces, GBK bytes): everything up to the next "&" is the value.
QByteArray queryValue(QByteArrayView query, QByteArrayView key)
{
    for (const QByteArrayView pair : QByteArray::fromRawData(query.data(), query.size()).split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals >= 0 && pair.first(equals) == key)
            return QByteArray::fromPercentEncoding(pair.sliced(equals + 1).toByteArray());
    }
    return {};
}

// Keyword bytes as the program or a browser sends them: UTF-8 when they are
// valid UTF-8, GBK otherwise.
QString decodeKeyword(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gbk("GBK");
    return gbk.decode(bytes);
}

QByteArray charset(PageEncoding encoding)
{
    return encoding == PageEncoding::Gbk ? QByteArrayLiteral("gbk") : QByteArrayLiteral("utf-8");
}

} // namespace

struct SimServer::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool busy = false; // an answer is pending (latency), or never comes (silence)
};

struct SimServer::Answer
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    bool fails = false;
};

SimServer::SimServer(const ServerOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_graph(options.graphSize), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &SimServer::accept);
}

SimServer::~SimServer() = default;

bool SimServer::listen(quint16 port)
{
    if (!m_options.accessLog.isEmpty()) {
        // Unbuffered: the log is whole even when the simulator is killed.
        m_accessLog.setFileName(m_options.accessLog);
        if (!m_accessLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return false;
    }
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 SimServer::port() const
{
    return m_server->serverPort();
}

QString SimServer::errorString() const
{
    return m_accessLog.error() != QFileDevice::NoError ? m_accessLog.errorString() : m_server->errorString();
}

void SimServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { serve(connection); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

// Answers the complete requests in the connection's buffer, one at a time and
// in order, so a delayed answer never overtakes an earlier one.
void SimServer::serve(const std::shared_ptr<Connection> &connection)
{
    QTcpSocket *socket = connection->socket;
    if (!socket)
        return;
    connection->buffer += socket->readAll();
    while (!connection->busy) {
        QByteArray &buffer = connection->buffer;
        qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        qsizetype separator = 4;
        if (const qsizetype bare = buffer.indexOf("\n\n"); bare >= 0 && (headEnd < 0 || bare < headEnd)) {
            headEnd = bare;
            separator = 2;
        }
        if (headEnd < 0) {
            if (buffer.size() > maxHeadBytes)
                socket->abort();
            return;
        }
        const QList<QByteArray> lines = buffer.first(headEnd).split('\n');
        const QByteArray requestLine = lines.first().trimmed();
        qint64 bodyLength = 0;
        bool keepAlive = requestLine.endsWith("HTTP/1.1");
        for (const QByteArray &line : lines.sliced(1)) {
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.first(qMax<qsizetype>(colon, 0)).trimmed().toLower();
            const QByteArray value = line.sliced(colon + 1).trimmed().toLower();
            if (name == "content-length")
                bodyLength = value.toLongLong();
            else if (name == "connection")
                keepAlive = value == "keep-alive";
        }
        if (buffer.size() < headEnd + separator + bodyLength)
            return;
        buffer.remove(0, headEnd + separator + bodyLength);

        // The target may hold raw spaces: it is everything between the method
        // and the protocol name.
        const qsizetype from = requestLine.indexOf(' ') + 1;
        const qsizetype to = requestLine.lastIndexOf(" HTTP/");
        const QByteArray target = to > from ? requestLine.sliced(from, to - from) : requestLine.sliced(from);
        if (m_accessLog.isOpen())
            m_accessLog.write(target + '\n');
        const Answer answer = this->answer(target);

        connection->busy = true;
        if (answer.fails && m_options.failMode == FailMode::Silence)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) +
                          (answer.status == 200 ? " OK" : " Not Found") + "\r\nServer: quillmarsh-sim\r\n" +
                          "Content-Type: " + answer.contentType + "\r\nCache-Control: no-cache\r\n";
        QByteArray body = answer.body;
        if (answer.fails && m_options.failMode == FailMode::Empty)
            body.clear();
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (!keepAlive)
            head += "Connection: close\r\n";
        head += "\r\n";
        if (answer.fails && m_options.failMode == FailMode::Drop) {
            // The whole length is announced, then the connection ends half-way.
            body.truncate(body.size() / 2);
            keepAlive = false;
        }
        auto deliver = [this, connection, bytes = head + body, keepAlive] {
            QTcpSocket *socket = connection->socket;
            if (!socket)
                return;
            socket->write(bytes);
            connection->busy = false;
            if (!keepAlive)
                socket->disconnectFromHost();
            else if (!connection->buffer.isEmpty())
                QMetaObject::invokeMethod(
                    this, [this, connection] { serve(connection); }, Qt::QueuedConnection);
        };
        if (m_options.latencyMs > 0)
            QTimer::singleShot(m_options.latencyMs, socket, deliver);
        else
            deliver();
    }
}

SimServer::Answer SimServer::answer(const QByteArray &target) const
{
    const qsizetype question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.first(question);
    const QByteArray query = question < 0 ? QByteArray() : target.sliced(question + 1);
    const QByteArray html = "text/html; charset=" + charset(m_options.encoding);

    if (path == "/search") {
        const QString keyword = decodeKeyword(queryValue(query, "q"));
        const ResultPage page = m_graph.page(keyword);
        return {200, html,
                renderResultPage(page, m_options.encoding, m_options.pageSize, m_options.pageStyle),
                m_options.failShare > 0 && KeywordGraph::failsAt(keyword, m_options.failShare)};
    }
    if (path == "/click_user.asp") {
        const QByteArray declared = m_options.encoding == PageEncoding::Gbk ? "gb2312" : "utf-8";
        return {200, "text/xml; charset=" + declared,
                loginAnswer(queryValue(query, "user"), queryValue(query, "pass"), m_options.encoding)};
    }
    if (const QByteArray page = forumPage(path, m_options.encoding); !page.isEmpty())
        return {200, html, page};
    return {404, "text/plain", "not found\n"};
}

} // namespace sim
