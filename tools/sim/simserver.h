#pragma once

#include "keywordgraph.h"
#include "resultpage.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace sim {

// How a failing keyword's page goes wrong.
enum class FailMode
{
    Drop,    // the connection closes part-way through the body
    Empty,   // 200 with an empty body
    Silence, // no answer at all; the connection stays open
};

struct ServerOptions
{
    int graphSize = 200;
    PageEncoding encoding = PageEncoding::Gbk;
    PageStyle pageStyle = PageStyle::Classic;
    int latencyMs = 0;
    double failShare = 0;
    FailMode failMode = FailMode::Drop;
    int pageSize = 200'000;
    QString accessLog; // when set, every request target is written to this file, one a line
};

// One loopback HTTP/1.1 server (keep-alive) for both outside services: the
// account service and the marketplace search.
class SimServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimServer)

public:
    explicit SimServer(const ServerOptions &options, QObject *parent = nullptr);
    ~SimServer() override;

    // Opens the access log and listens on 127.0.0.1; port 0 picks a free one.
    // False when either fails.
    bool listen(quint16 port);
    quint16 port() const;
    QString errorString() const;

private:
    struct Connection;
    struct Answer;

    void accept();
    void serve(const std::shared_ptr<Connection> &connection);
    Answer answer(const QByteArray &target) const;

    ServerOptions m_options;
    KeywordGraph m_graph;
    QTcpServer *m_server;
    QFile m_accessLog;
};

} // namespace sim
