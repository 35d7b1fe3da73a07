#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>

#include <functional>
#include <memory>

class QThread;

namespace testsupport {

// One request as it arrived on the wire.
struct RecordedRequest
{
    QByteArray raw;    // request line and headers, exactly as received
    QByteArray method;
    QByteArray target; // request target, byte for byte
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;    // the Content-Length bytes after the headers
    int connection = 0; // 1-based number of the connection it came on
    qint64 receivedMs = 0; // when its head was complete, on the monotonic clock

    // First header of that name (case-insensitive); empty if absent.
    QByteArray header(QByteArrayView name) const;
};

// What the server does with one request.
struct ScriptedResponse
{
    QByteArray bytes;       // written as they are: any status, headers, body or garbage
    bool close = false;     // close the connection after writing
    bool silent = false;    // write nothing and keep the connection open
    int trickleMs = 0;      // > 0: write one byte every trickleMs milliseconds
    int trickleFrom = 0;    // with trickleMs: bytes written at once before the trickle
    int delayMs = 0;        // wait this long before writing

    static ScriptedResponse ok(const QByteArray &body, const QByteArray &extraHeaders = {});
    static ScriptedResponse status(int code, const QByteArray &reason, const QByteArray &body,
                                   const QByteArray &extraHeaders = {});
    static ScriptedResponse closed() { return {{}, true}; }
    static ScriptedResponse silence() { return {{}, false, true}; }
};

using RequestHandler = std::function<ScriptedResponse(const RecordedRequest &)>;

// A loopback HTTP server that answers each request from a script and records
// the exact bytes it received. It runs on a thread of its own, so a test may
// block (or run a nested event loop) while the server keeps answering.
class RawHttpServer
{
public:
    RawHttpServer();
    ~RawHttpServer();
    Q_DISABLE_COPY_MOVE(RawHttpServer)

    quint16 port() const { return m_port; }
    QByteArray hostAndPort() const; // "127.0.0.1:PORT"

    // Answers requests in order from this queue; when it is empty the handler
    // (if set) answers, otherwise a 404 with a short body.
    void enqueue(const ScriptedResponse &response);
    // Called on the server's thread: it must not touch test objects unguarded.
    void setHandler(RequestHandler handler);

    QList<RecordedRequest> requests() const;
    int requestCount() const;
    int connectionCount() const;

    class Worker;

private:
    std::unique_ptr<QThread> m_thread;
    Worker *m_worker = nullptr;
    quint16 m_port = 0;
};

} // namespace testsupport
