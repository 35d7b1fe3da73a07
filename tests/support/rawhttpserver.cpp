#include "rawhttpserver.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <deque>

namespace testsupport {

QByteArray RecordedRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

ScriptedResponse ScriptedResponse::status(int code, const QByteArray &reason, const QByteArray &body,
                                          const QByteArray &extraHeaders)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += extraHeaders;
    bytes += "\r\n" + body;
    return {bytes};
}

ScriptedResponse ScriptedResponse::ok(const QByteArray &body, const QByteArray &extraHeaders)
{
    return status(200, "OK", body, extraHeaders);
}

class RawHttpServer::Worker : public QObject
{
public:
    quint16 listen()
    {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { acceptAll(); });
        return m_server->serverPort();
    }

    void enqueue(const ScriptedResponse &response)
    {
        QMutexLocker lock(&m_mutex);
        m_queue.push_back(response);
    }

    void setHandler(RequestHandler handler)
    {
        QMutexLocker lock(&m_mutex);
        m_handler = std::move(handler);
    }

    QList<RecordedRequest> requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

    int connectionCount() const
    {
        QMutexLocker lock(&m_mutex);
        return m_connections;
    }

private:
    // What one connection needs across its reads and delayed writes.
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        bool busy = false;    // a response is still being written
        bool closing = false; // closed after a response: later requests go unanswered
        int number = 0;
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    void acceptAll()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            auto connection = std::make_shared<Connection>();
            connection->socket = socket;
            {
                QMutexLocker lock(&m_mutex);
                connection->number = ++m_connections;
            }
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readFrom(connection); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void readFrom(const ConnectionPtr &connection)
    {
        if (!connection->socket || connection->closing)
            return;
        QByteArray &buffer = connection->buffer;
        buffer += connection->socket->readAll();
        while (!connection->busy && !connection->closing) {
            qsizetype end = buffer.indexOf("\r\n\r\n");
            qsizetype endLength = 4;
            const qsizetype lfEnd = buffer.indexOf("\n\n");
            if (lfEnd >= 0 && (end < 0 || lfEnd < end)) {
                end = lfEnd;
                endLength = 2;
            }
            if (end < 0)
                return;
            RecordedRequest request = parse(buffer.left(end + endLength), connection->number);
            request.receivedMs = QDeadlineTimer::current().deadline();
            const qsizetype bodyLength = qMax<qsizetype>(0, request.header("Content-Length").toLongLong());
            if (buffer.size() < end + endLength + bodyLength)
                return;
            request.body = buffer.mid(end + endLength, bodyLength);
            buffer.remove(0, end + endLength + bodyLength);
            answer(connection, request);
        }
    }

    static RecordedRequest parse(const QByteArray &head, int connection)
    {
        RecordedRequest request;
        request.raw = head;
        request.connection = connection;
        const QList<QByteArray> lines = head.split('\n');
        QByteArray line = lines.value(0);
        if (line.endsWith('\r'))
            line.chop(1);
        request.method = line.left(line.indexOf(' '));
        // The target may hold raw spaces: it is everything between the method
        // and the protocol name.
        const qsizetype from = line.indexOf(' ') + 1;
        const qsizetype to = line.lastIndexOf(" HTTP/");
        request.target = to > from ? line.mid(from, to - from) : line.mid(from);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray header = lines[i].trimmed();
            const qsizetype colon = header.indexOf(':');
            if (colon > 0)
                request.headers.append({header.left(colon), header.mid(colon + 1).trimmed()});
        }
        return request;
    }

    void answer(const ConnectionPtr &connection, const RecordedRequest &request)
    {
        ScriptedResponse response;
        {
            QMutexLocker lock(&m_mutex);
            m_requests.append(request);
            if (!m_queue.empty()) {
                response = m_queue.front();
                m_queue.pop_front();
            } else if (m_handler) {
                RequestHandler handler = m_handler;
                lock.unlock();
                response = handler(request);
            } else {
                response = ScriptedResponse::status(404, "Not Found", "no script");
            }
        }
        if (response.silent)
            return;
        connection->busy = true;
        auto send = [this, connection, response] {
            if (!connection->socket)
                return; // the client left while the response was delayed
            if (response.trickleMs > 0) {
                connection->socket->write(response.bytes.left(response.trickleFrom));
                trickle(connection, response.bytes.mid(response.trickleFrom), response.trickleMs,
                        response.close);
            } else
                finish(connection, response.bytes, response.close);
        };
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, this, send);
        else
            send();
    }

    void finish(const ConnectionPtr &connection, const QByteArray &bytes, bool close)
    {
        QTcpSocket *socket = connection->socket;
        if (!socket)
            return;
        socket->write(bytes);
        connection->busy = false;
        if (close) {
            // A request that came in behind this one must not take the next
            // scripted response: that belongs to the client's next connection.
            connection->closing = true;
            connection->buffer.clear();
            socket->disconnectFromHost();
        } else if (!connection->buffer.isEmpty() || socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(this, [this, connection] { readFrom(connection); }, Qt::QueuedConnection);
    }

    void trickle(const ConnectionPtr &connection, const QByteArray &rest, int intervalMs, bool close)
    {
        if (!connection->socket)
            return;
        if (rest.isEmpty()) {
            finish(connection, {}, close);
            return;
        }
        connection->socket->write(rest.left(1));
        connection->socket->flush();
        QTimer::singleShot(intervalMs, this,
                           [=, this] { trickle(connection, rest.mid(1), intervalMs, close); });
    }

    QTcpServer *m_server = nullptr;
    mutable QMutex m_mutex;
    std::deque<ScriptedResponse> m_queue;
    RequestHandler m_handler;
    QList<RecordedRequest> m_requests;
    int m_connections = 0;
};

RawHttpServer::RawHttpServer() : m_thread(std::make_unique<QThread>())
{
    m_worker = new Worker;
    m_worker->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, [this] { m_port = m_worker->listen(); }, Qt::BlockingQueuedConnection);
}

RawHttpServer::~RawHttpServer()
{
    m_thread->quit();
    m_thread->wait();
}

QByteArray RawHttpServer::hostAndPort() const
{
    return "127.0.0.1:" + QByteArray::number(m_port);
}

void RawHttpServer::enqueue(const ScriptedResponse &response)
{
    m_worker->enqueue(response);
}

void RawHttpServer::setHandler(RequestHandler handler)
{
    m_worker->setHandler(std::move(handler));
}

QList<RecordedRequest> RawHttpServer::requests() const
{
    return m_worker->requests();
}

int RawHttpServer::requestCount() const
{
    return int(m_worker->requests().size());
}

int RawHttpServer::connectionCount() const
{
    return m_worker->connectionCount();
}

} // namespace testsupport
