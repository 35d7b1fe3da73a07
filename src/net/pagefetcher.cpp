#include "net/pagefetcher.h"

#include "text/bytetext.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace {

// One manager per thread, shared by every component on it, so fetches to the
// same host reuse connections and no fetch pays for a manager of its own.
QNetworkAccessManager *threadManager()
{
    thread_local QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager;
        QThread *thread = QThread::currentThread();
        if (QCoreApplication *app = QCoreApplication::instance(); app && app->thread() == thread)
            manager->setParent(app);
        else
            QObject::connect(thread, &QThread::finished, manager, &QObject::deleteLater);
    }
    return manager;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The path and query as they go into the request line. Bytes that may not
// stand there become %XX: controls, space, DEL, bytes above 127 (GBK text),
// '#' (it would end the URL) and the characters URLs leave out ("<>\^`{|}).
// A '%' that opens an escape stays, so an already encoded URL passes
// unchanged; a lone '%' becomes %25. '&', '?', '=' and the other delimiters
// stay as they are: they split the query as the caller wrote it.
QByteArray encodeForRequestLine(QByteArrayView path)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    static constexpr QByteArrayView leftOut = "#\"<>\\^`{|}";
    QByteArray wire;
    wire.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char c = path[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool opensEscape =
            c == '%' && i + 2 < path.size() && isHexDigit(path[i + 1]) && isHexDigit(path[i + 2]);
        if (byte <= 0x20 || byte >= 0x7F || leftOut.contains(c) || (c == '%' && !opensEscape)) {
            wire += '%';
            wire += hexDigits[byte >> 4];
            wire += hexDigits[byte & 0xF];
        } else {
            wire += c;
        }
    }
    return wire;
}

QUrl requestUrl(QByteArrayView address)
{
    const PageFetcher::UrlParts parts = PageFetcher::splitUrl(address);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(text::fromGbk(parts.host));
    // A port set explicitly, the default one included, goes into the Host header.
    if (parts.port != 80)
        url.setPort(parts.port);
    const QByteArray wire = encodeForRequestLine(parts.path);
    const qsizetype query = wire.indexOf('?');
    url.setPath(QString::fromLatin1(query < 0 ? wire : wire.first(query)), QUrl::StrictMode);
    if (query >= 0)
        url.setQuery(QString::fromLatin1(wire.sliced(query + 1)), QUrl::StrictMode);
    return url;
}

// A status line arrived and the transfer was not broken off. Qt reports many
// statuses as errors of its own (400 and 418 as invalid operations, 407 as a
// proxy error); those count as arrived, whatever the status: the body decides.
// What stays a failure is the transport's: the connection (refused, closed
// early, timed out, cancelled), a proxy that was really asked, redirects,
// a broken protocol.
bool responseArrived(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    const QNetworkReply::NetworkError code = reply.error();
    if (code == QNetworkReply::ProxyAuthenticationRequiredError)
        return status.toInt() == 407;
    const bool transport = (code > QNetworkReply::NoError && code < QNetworkReply::ContentAccessDenied) ||
                           code == QNetworkReply::ContentReSendError ||
                           code == QNetworkReply::ProtocolFailure;
    return !transport;
}

// A Content-Length, when there is one, must be a decimal number.
bool contentLengthValid(const QNetworkReply &reply)
{
    static constexpr QByteArrayView name = "Content-Length";
    if (!reply.hasRawHeader(name.toByteArray()))
        return true;
    const QByteArray value = reply.rawHeader(name.toByteArray()).trimmed();
    return !value.isEmpty() &&
           std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

PageFetcher::PageFetcher(QObject *parent) : QObject(parent) {}

PageFetcher::~PageFetcher()
{
    stopTransfer();
}

QByteArray PageFetcher::wireAddress(QByteArrayView url)
{
    return requestUrl(url).toEncoded();
}

PageFetcher::UrlParts PageFetcher::splitUrl(QByteArrayView url)
{
    static constexpr QByteArrayView scheme = "http://";
    QByteArrayView rest = url;
    if (text::equalsIgnoringCase(text::firstBytes(rest, scheme.size()), scheme))
        rest = rest.sliced(scheme.size());

    UrlParts parts;
    const qsizetype slash = rest.indexOf('/');
    QByteArrayView host = slash < 0 ? rest : rest.first(slash);
    parts.path = slash < 0 ? QByteArrayLiteral("/") : rest.sliced(slash).toByteArray();
    if (const qsizetype colon = host.indexOf(':'); colon >= 0) {
        parts.portText = host.sliced(colon + 1).toByteArray();
        host = host.first(colon);
    }
    parts.host = host.toByteArray();
    bool isNumber = false;
    const int port = parts.portText.toInt(&isNumber);
    parts.port = isNumber ? port : 80;
    return parts;
}

void PageFetcher::start()
{
    if (m_running)
        return;
    m_running = true;
    m_body.clear();
    m_fetchBodyLimit = m_bodyLimit;
    m_statusCode = 0;
    m_retryAfter.clear();
    QNetworkAccessManager *manager = m_manager ? m_manager.get() : threadManager();

    QNetworkRequest request(requestUrl(m_url));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_fetchTimeoutMs);
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("*/*"));
    if (!m_userAgent.isEmpty())
        request.setRawHeader(QByteArrayLiteral("User-Agent"), m_userAgent);
    // Proxies and caches on the way must ask the origin server too.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setRawHeader(QByteArrayLiteral("Pragma"), QByteArrayLiteral("no-cache"));
    request.setRawHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
    if (!m_cookie.isEmpty()) {
        // One header with the user's cookie and those the server has set, so
        // a signed-in session and the server's own cookies travel together.
        QByteArray cookies = m_cookie;
        for (const QNetworkCookie &cookie : manager->cookieJar()->cookiesForUrl(request.url()))
            cookies += "; " + cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
        request.setRawHeader(QByteArrayLiteral("Cookie"), cookies);
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    }

    m_reply = manager->get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &PageFetcher::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &PageFetcher::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &PageFetcher::onFinished);
}

void PageFetcher::cancel()
{
    if (!m_reply)
        return; // idle, or cancelled with its error already on the way
    stopTransfer();
    reportFailureLater();
}

void PageFetcher::onMetaDataChanged()
{
    m_statusCode = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_retryAfter = m_reply->rawHeader(QByteArrayLiteral("Retry-After"));
    const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > m_fetchBodyLimit || !contentLengthValid(*m_reply))
        failFromReplySignal();
}

void PageFetcher::onReadyRead()
{
    m_body += m_reply->readAll();
    if (m_body.size() > m_fetchBodyLimit)
        failFromReplySignal();
}

void PageFetcher::failFromReplySignal()
{
    // Aborting a reply inside its own signal upsets Qt's HTTP layer, so the
    // abort and the report both come from the event loop.
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->disconnect(this);
    QMetaObject::invokeMethod(
        reply,
        [reply] {
            reply->abort();
            reply->deleteLater();
        },
        Qt::QueuedConnection);
    reportFailureLater();
}

void PageFetcher::onFinished()
{
    if (m_reply->isReadable()) // a timed-out transfer is closed already
        m_body += m_reply->readAll();
    // A transfer that broke off (a body shorter than its Content-Length, a
    // time-out) fails even when part of the body arrived.
    const bool succeeded =
        responseArrived(*m_reply) && !m_body.isEmpty() && m_body.size() <= m_fetchBodyLimit;
    stopTransfer();
    complete(succeeded);
}

void PageFetcher::reportFailureLater()
{
    QMetaObject::invokeMethod(
        this, [this] { complete(false); }, Qt::QueuedConnection);
}

void PageFetcher::stopTransfer()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->disconnect(this);
    reply->abort();
    // May be inside one of its own signals.
    reply->deleteLater();
}

void PageFetcher::complete(bool succeeded)
{
    const QByteArray body = std::exchange(m_body, {});
    const QPointer<PageFetcher> alive(this);
    if (succeeded)
        Q_EMIT finished(body);
    else
        Q_EMIT failed();
    // Still running while the handlers ran; a handler may have deleted us.
    if (alive)
        m_running = false;
}
