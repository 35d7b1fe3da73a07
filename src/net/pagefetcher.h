#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>

class QNetworkReply;

// Fetches one URL over HTTP in the background and reports the outcome through
// signals on the thread that started it. Success means a status line and a
// non-empty body arrived, whatever the status (an error page is delivered like
// any other); everything else, an empty body, a broken transfer or a
// Content-Length that is not a number included, ends in failed().
//
// A fetcher runs one fetch at a time: start() while running is ignored, and it
// still counts as running while its finished() or failed() handlers run, so a
// handler cannot start it again; it can fetch again afterwards.
//
// The transfer goes through one QNetworkAccessManager per thread, so fetches
// may reuse connections. Redirects are followed; every request asks the
// origin server, never a cache.
class PageFetcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageFetcher)
    Q_PROPERTY(QByteArray url READ url WRITE setUrl)
    Q_PROPERTY(QByteArray userAgent READ userAgent WRITE setUserAgent)
    Q_PROPERTY(int fetchTimeout READ fetchTimeout WRITE setFetchTimeout)
    Q_PROPERTY(qint64 bodyLimit READ bodyLimit WRITE setBodyLimit)

public:
    static constexpr int DefaultFetchTimeoutMs = 30'000;
    static constexpr qint64 DefaultBodyLimit = 64 * 1024 * 1024;

    explicit PageFetcher(QObject *parent = nullptr);
    // Stops a running fetch; no signal is emitted for it.
    ~PageFetcher() override;

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
    static UrlParts splitUrl(QByteArrayView url);
    // The address as a fetch of url requests it, percent-encoded the same
    // way: what a browser must open to show the page that was fetched.
    static QByteArray wireAddress(QByteArrayView url);

    // Starts fetching url() with the current properties; later changes to them
    // do not affect the running fetch. Ignored while running.
    void start();
    // Stops the running fetch, which then ends in failed() from the event loop
    // (never inside this call). Does nothing when idle.
    void cancel();
    bool isRunning() const { return m_running; }

    QByteArray url() const { return m_url; }
    void setUrl(const QByteArray &url) { m_url = url; }
    // Sent as User-Agent. Empty leaves the choice to Qt, which then sends
    // "Mozilla/5.0": its HTTP layer offers no way to send none.
    QByteArray userAgent() const { return m_userAgent; }
    void setUserAgent(const QByteArray &agent) { m_userAgent = agent; }
    // A fetch fails when nothing arrives for this long; 0 waits for ever.
    int fetchTimeout() const { return m_fetchTimeoutMs; }
    void setFetchTimeout(int ms) { m_fetchTimeoutMs = ms; }
    // A fetch fails as soon as its body is known to exceed this many bytes.
    qint64 bodyLimit() const { return m_bodyLimit; }
    void setBodyLimit(qint64 bytes) { m_bodyLimit = bytes; }
    // Sent as the Cookie header, ahead of the cookies the server has set;
    // empty sends only those.
    QByteArray cookie() const { return m_cookie; }
    void setCookie(const QByteArray &cookie) { m_cookie = cookie; }
    // The manager the transfer goes through; null (the default) means the
    // one this thread's fetchers share. Qt opens at most six connections to a
    // host per manager, so more fetches at once need more managers.
    void setNetworkAccessManager(QNetworkAccessManager *manager) { m_manager = manager; }

    // The answer's HTTP status and Retry-After header; 0 and empty until the
    // answer's head has arrived. Still readable in the finished() and
    // failed() handlers.
    int statusCode() const { return m_statusCode; }
    QByteArray retryAfter() const { return m_retryAfter; }

Q_SIGNALS:
    void finished(const QByteArray &body);
    void failed();

private:
    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void failFromReplySignal();
    void reportFailureLater();
    void stopTransfer();
    void complete(bool succeeded);

    QByteArray m_url;
    QByteArray m_userAgent = QByteArrayLiteral("Quillmarsh/1.0");
    int m_fetchTimeoutMs = DefaultFetchTimeoutMs;
    qint64 m_bodyLimit = DefaultBodyLimit;
    QByteArray m_cookie;
    QPointer<QNetworkAccessManager> m_manager;

    bool m_running = false;
    int m_statusCode = 0;
    QByteArray m_retryAfter;
    // Guarded: the shared manager, its parent, may go first at shutdown.
    QPointer<QNetworkReply> m_reply;
    qint64 m_fetchBodyLimit = 0; // bodyLimit() when the fetch started
    QByteArray m_body;
};
