#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

class QNetworkReply;

// Fetches one URL over HTTP in the background and reports the outcome through
// signals on the thread that started it. Success means a non-empty body,
// whatever the status (an error page is delivered like any other); everything
// else, an empty body included, ends in error().
//
// A component runs one fetch at a time: StartFetch() while running is ignored,
// and it still counts as running while its doneString() or error() handlers
// run, so a handler cannot start it again; it can fetch again afterwards.
//
// The transfer goes through one QNetworkAccessManager per thread, so fetches
// may reuse connections. Redirects are followed.
class THTTPGet : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(THTTPGet)
    Q_PROPERTY(QByteArray AcceptTypes READ acceptTypes WRITE setAcceptTypes)
    Q_PROPERTY(QByteArray Agent READ agent WRITE setAgent)
    Q_PROPERTY(bool BinaryData READ binaryData WRITE setBinaryData)
    Q_PROPERTY(QByteArray URL READ url WRITE setUrl)
    Q_PROPERTY(bool UseCache READ useCache WRITE setUseCache)
    Q_PROPERTY(QByteArray UserName READ userName WRITE setUserName)
    Q_PROPERTY(QByteArray Password READ password WRITE setPassword)
    Q_PROPERTY(QByteArray PostQuery READ postQuery WRITE setPostQuery)
    Q_PROPERTY(QByteArray Referer READ referer WRITE setReferer)
    Q_PROPERTY(bool WaitThread READ waitThread WRITE setWaitThread)

public:
    static constexpr int DefaultFetchTimeoutMs = 30'000;
    static constexpr qint64 DefaultBodyLimit = 64 * 1024 * 1024;

    explicit THTTPGet(QObject *owner = nullptr);
    // Stops a running fetch; no signal is emitted for it.
    ~THTTPGet() override;

    // How a URL is taken apart: an optional "http://" (any case) is dropped,
    // the host runs to the first '/', the path is the rest ("/" when there is
    // none), and a ':' in the host starts the port text. A port text that is
    // not a decimal integer, the empty one included, means port 80. No other
    // scheme is known: "https://x/" has the host "https".
    struct UrlParts
    {
        QByteArray host;
        QByteArray path;
        QByteArray portText = QByteArrayLiteral("80");
        int port = 80;
        bool operator==(const UrlParts &) const = default;
    };
    static UrlParts SplitUrl(QByteArrayView url);

    // Starts fetching URL with the current properties; later changes to them
    // do not affect the running fetch. Ignored while running. With WaitThread
    // set, the events already pending on this thread are processed before it
    // returns; it never waits for the fetch.
    void StartFetch();
    // Stops the running fetch, which then ends in error() from the event loop
    // (never inside this call). Does nothing when idle.
    void Cancel();
    bool isRunning() const { return m_running; }

    QByteArray acceptTypes() const { return m_acceptTypes; }
    void setAcceptTypes(const QByteArray &types) { m_acceptTypes = types; }
    // Sent as User-Agent. Empty leaves the choice to Qt, which then sends
    // "Mozilla/5.0": its HTTP layer offers no way to send none.
    QByteArray agent() const { return m_agent; }
    void setAgent(const QByteArray &agent) { m_agent = agent; }
    // Kept for callers that set it: bodies are always delivered as bytes.
    bool binaryData() const { return m_binaryData; }
    void setBinaryData(bool binary) { m_binaryData = binary; }
    QByteArray url() const { return m_url; }
    void setUrl(const QByteArray &url) { m_url = url; }
    // false: always ask the origin server, never a cache.
    bool useCache() const { return m_useCache; }
    void setUseCache(bool use) { m_useCache = use; }
    // Credentials offered when the server asks for them.
    QByteArray userName() const { return m_userName; }
    void setUserName(const QByteArray &name) { m_userName = name; }
    QByteArray password() const { return m_password; }
    void setPassword(const QByteArray &password) { m_password = password; }
    // Not empty: the request is a POST of this form-encoded body.
    QByteArray postQuery() const { return m_postQuery; }
    void setPostQuery(const QByteArray &query) { m_postQuery = query; }
    QByteArray referer() const { return m_referer; }
    void setReferer(const QByteArray &referer) { m_referer = referer; }
    bool waitThread() const { return m_waitThread; }
    void setWaitThread(bool wait) { m_waitThread = wait; }

    // A fetch fails when nothing arrives for this long; 0 waits for ever.
    int fetchTimeout() const { return m_fetchTimeoutMs; }
    void setFetchTimeout(int ms) { m_fetchTimeoutMs = ms; }
    // A fetch fails as soon as its body is known to exceed this many bytes.
    qint64 bodyLimit() const { return m_bodyLimit; }
    void setBodyLimit(qint64 bytes) { m_bodyLimit = bytes; }

Q_SIGNALS:
    void doneString(THTTPGet *sender, const QByteArray &result);
    void error(THTTPGet *sender);
    // After each block of the body. sender is the transfer, not the component;
    // totalSize is the announced Content-Length (0 when there is none).
    void progress(QObject *sender, qint32 totalSize, qint32 received);

private:
    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void stopTransfer();
    void complete(bool succeeded);

    QByteArray m_acceptTypes = QByteArrayLiteral("*/*");
    QByteArray m_agent = QByteArrayLiteral("Quillmarsh/1.0");
    bool m_binaryData = false;
    QByteArray m_url;
    bool m_useCache = false;
    QByteArray m_userName;
    QByteArray m_password;
    QByteArray m_postQuery;
    QByteArray m_referer;
    bool m_waitThread = false;
    int m_fetchTimeoutMs = DefaultFetchTimeoutMs;
    qint64 m_bodyLimit = DefaultBodyLimit;

    bool m_running = false;
    // Guarded: the shared manager, its parent, may go first at shutdown.
    QPointer<QNetworkReply> m_reply;
    qint64 m_fetchBodyLimit = 0; // bodyLimit() when the fetch started
    qint32 m_totalSize = 0;
    QByteArray m_body;
};
