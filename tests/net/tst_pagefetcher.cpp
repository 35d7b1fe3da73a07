#include "common/marketprofile.h"
#include "net/pagefetcher.h"
#include "rawhttpserver.h"
#include "recorders.h"
#include "results/keywordvisit.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <memory>
#include <vector>

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedResponse;

Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

// One fetcher with its outcome recorded.
struct Fetch
{
    explicit Fetch(const QByteArray &url) { get.setUrl(url); }

    bool ended() const { return !done.isEmpty() || !failed.isEmpty(); }
    bool waitUntilEnded()
    {
        return QTest::qWaitFor([this] { return ended(); }, 10'000);
    }
    QByteArray body() const { return done.value(0).value(0).toByteArray(); }

    PageFetcher get;
    QSignalSpy done{&get, &PageFetcher::finished};
    QSignalSpy failed{&get, &PageFetcher::failed};
};

// A loopback port nobody listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class TestPageFetcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitUrl_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("portText");
        QTest::addColumn<int>("port");
        QTest::newRow("plain") << QByteArray("http://example.com/search?q=a") << QByteArray("example.com")
                               << QByteArray("/search?q=a") << QByteArray("80") << 80;
        QTest::newRow("no scheme") << QByteArray("example.com/x") << QByteArray("example.com")
                                   << QByteArray("/x") << QByteArray("80") << 80;
        QTest::newRow("capital scheme") << QByteArray("HTTP://Example.com/x") << QByteArray("Example.com")
                                        << QByteArray("/x") << QByteArray("80") << 80;
        QTest::newRow("mixed-case scheme")
            << QByteArray("hTtP://h/x") << QByteArray("h") << QByteArray("/x") << QByteArray("80") << 80;
        QTest::newRow("port") << QByteArray("http://h:8080/x") << QByteArray("h") << QByteArray("/x")
                              << QByteArray("8080") << 8080;
        QTest::newRow("port, no slash")
            << QByteArray("h:81") << QByteArray("h") << QByteArray("/") << QByteArray("81") << 81;
        QTest::newRow("port not a number")
            << QByteArray("http://h:abc/x") << QByteArray("h") << QByteArray("/x") << QByteArray("abc") << 80;
        QTest::newRow("two colons") << QByteArray("h:81:82/x") << QByteArray("h") << QByteArray("/x")
                                    << QByteArray("81:82") << 80;
        QTest::newRow("empty port") << QByteArray("http://h:/x") << QByteArray("h") << QByteArray("/x")
                                    << QByteArray("") << 80;
        QTest::newRow("no slash") << QByteArray("http://h") << QByteArray("h") << QByteArray("/")
                                  << QByteArray("80") << 80;
        QTest::newRow("colon after the first slash") << QByteArray("http://h/a:81?b=c:d") << QByteArray("h")
                                                     << QByteArray("/a:81?b=c:d") << QByteArray("80") << 80;
        QTest::newRow("https is a host") << QByteArray("https://h/x") << QByteArray("https")
                                         << QByteArray("//h/x") << QByteArray("") << 80;
        QTest::newRow("scheme only") << QByteArray("http://") << QByteArray("") << QByteArray("/")
                                     << QByteArray("80") << 80;
        QTest::newRow("empty") << QByteArray() << QByteArray("") << QByteArray("/") << QByteArray("80") << 80;
    }
    void splitUrl()
    {
        QFETCH(QByteArray, url);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, portText);
        QFETCH(int, port);
        const PageFetcher::UrlParts parts = PageFetcher::splitUrl(url);
        QCOMPARE(parts.host, host);
        QCOMPARE(parts.path, path);
        QCOMPARE(parts.portText, portText);
        QCOMPARE(parts.port, port);
    }

    // What the request line carries for the path and query the caller wrote.
    void requestTarget_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("GBK keyword") << "/search?q=" + text::toGbk(u"连衣裙") + "&sort=sale-desc"
                                     << QByteArray("/search?q=%C1%AC%D2%C2%C8%B9&sort=sale-desc");
        QTest::newRow("space") << QByteArray("/s?q=a b") << QByteArray("/s?q=a%20b");
        QTest::newRow("delimiters stay") << QByteArray("/s?q=a&b=c?d=e") << QByteArray("/s?q=a&b=c?d=e");
        QTest::newRow("hash") << QByteArray("/s?q=a#b") << QByteArray("/s?q=a%23b");
        QTest::newRow("controls") << QByteArray("/s?q=a\tb\x7f\x01") << QByteArray("/s?q=a%09b%7F%01");
        QTest::newRow("left out of URLs")
            << QByteArray("/s?q={a|b}\"<^>") << QByteArray("/s?q=%7Ba%7Cb%7D%22%3C%5E%3E");
        QTest::newRow("escape kept") << QByteArray("/s?q=%C1%ac") << QByteArray("/s?q=%C1%AC");
        QTest::newRow("lone percent") << QByteArray("/s?q=100%") << QByteArray("/s?q=100%25");
        QTest::newRow("percent before non-hex") << QByteArray("/s?q=50%OFF") << QByteArray("/s?q=50%25OFF");
        QTest::newRow("in the path") << QByteArray("/a b/") + text::toGbk(u"裙")
                                     << QByteArray("/a%20b/%C8%B9");
        QTest::newRow("empty query") << QByteArray("/s?") << QByteArray("/s?");
        QTest::newRow("root") << QByteArray() << QByteArray("/");
    }
    void requestTarget()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, target);
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("page"));
        Fetch fetch("http://" + server.hostAndPort() + path);
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.done.size(), 1);
        QCOMPARE(server.requests().value(0).target, target);
    }

    void marketSearchUrlFollowsTheOverride()
    {
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("page"));
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
        const QByteArray url = MarketProfile::builtIn().searchUrlFor(text::toGbk(u"连衣裙") + " a&b");
        qunsetenv("QUILLMARSH_MARKET_HOST");
        QCOMPARE(url, "http://" + server.hostAndPort() + "/search?q=" + text::toGbk(u"连衣裙") +
                          " a&b&sort=sale-desc");

        Fetch fetch(url);
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.target, QByteArray("/search?q=%C1%AC%D2%C2%C8%B9%20a&b&sort=sale-desc"));
        QCOMPARE(request.header("Host"), server.hostAndPort());
    }

    // The visit command opens exactly the address the fetcher requested.
    void visitOpensTheFetchedAddress_data()
    {
        QTest::addColumn<QByteArray>("keyword");
        QTest::newRow("hash") << QByteArray("a#b");
        QTest::newRow("lone percent") << QByteArray("100%");
        QTest::newRow("escape") << QByteArray("%41");
        QTest::newRow("space") << QByteArray("a b");
        QTest::newRow("ampersand") << QByteArray("a&b");
        QTest::newRow("chinese") << text::toGbk(u"连衣裙 夏");
    }
    void visitOpensTheFetchedAddress()
    {
        QFETCH(QByteArray, keyword);
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("page"));
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
        const auto unset = qScopeGuard([] { qunsetenv("QUILLMARSH_MARKET_HOST"); });
        Fetch fetch(MarketProfile::builtIn().searchUrlFor(keyword));
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());

        ResultsModel results;
        results.addRow({"1", keyword, "10", "5", "1.00", "d"});
        testsupport::RecordingBrowser browser;
        visitKeyword(results, 0, MarketProfile::builtIn(), browser);

        QCOMPARE(browser.opened.size(), 1);
        QCOMPARE(browser.opened[0].first,
                 "http://" + server.hostAndPort() + server.requests().value(0).target);
    }

    // Seen through a proxy, which receives the whole address and the Host header.
    void hostHeader_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("no port") << QByteArray("http://quillmarsh.test/p") << QByteArray("quillmarsh.test");
        QTest::newRow("port 80 written")
            << QByteArray("quillmarsh.test:80/p") << QByteArray("quillmarsh.test");
        QTest::newRow("other port") << QByteArray("quillmarsh.test:8080/p")
                                    << QByteArray("quillmarsh.test:8080");
    }
    void hostHeader()
    {
        QFETCH(QByteArray, url);
        QFETCH(QByteArray, host);
        RawHttpServer proxy;
        proxy.enqueue(ScriptedResponse::ok("page"));
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.port()));
        const auto noProxy = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); });
        Fetch fetch(url);
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.body(), QByteArray("page"));
        const RecordedRequest request = proxy.requests().value(0);
        QCOMPARE(request.target, "http://" + host + "/p");
        QCOMPARE(request.header("Host"), host);
    }

    void requestHeaders()
    {
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("page"));
        Fetch fetch("http://" + server.hostAndPort() + "/p");
        const QByteArray agent("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
        fetch.get.setUserAgent(agent);
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());

        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.header("Accept"), QByteArray("*/*"));
        QCOMPARE(request.header("User-Agent"), agent);
        QCOMPARE(request.header("Pragma"), QByteArray("no-cache"));
        QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
        QVERIFY(request.header("Content-Type").isEmpty());
    }

    // Success is a status line and a non-empty body, whatever the status; the
    // body arrives unchanged. Everything else, a time-out or an oversized body
    // included, ends in failed(): an empty expected body means that.
    void outcome_data()
    {
        QTest::addColumn<ScriptedResponse>("response");
        QTest::addColumn<int>("fetchTimeout");
        QTest::addColumn<qint64>("bodyLimit");
        QTest::addColumn<QByteArray>("body");
        const auto row = [](const char *name, const ScriptedResponse &response, const QByteArray &body,
                            int fetchTimeout = PageFetcher::DefaultFetchTimeoutMs,
                            qint64 bodyLimit = PageFetcher::DefaultBodyLimit) {
            QTest::newRow(name) << response << fetchTimeout << bodyLimit << body;
        };
        const auto closing = [](const QByteArray &bytes) { return ScriptedResponse{bytes, true}; };

        row("200", ScriptedResponse::ok("hello"), "hello");
        row("404 page", ScriptedResponse::status(404, "Not Found", "missing"), "missing");
        row("500 page", ScriptedResponse::status(500, "Oops", "broken"), "broken");
        // Statuses Qt reports as errors of its own are pages like any other.
        for (const int status : {203, 300, 400, 401, 403, 405, 407, 409, 410, 418, 429, 451, 499, 501, 502,
                                 503, 504, 505, 599}) {
            const QByteArray name = QByteArray::number(status) + " page";
            QTest::newRow(name.constData())
                << ScriptedResponse::status(status, "Status", "page " + QByteArray::number(status))
                << PageFetcher::DefaultFetchTimeoutMs << PageFetcher::DefaultBodyLimit
                << "page " + QByteArray::number(status);
        }
        // Qt takes any 1xx but 100 for the final answer, which has no body.
        row("100, then 200",
            {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal"}, "final");
        row("103, then 200",
            {"HTTP/1.1 103 Early Hints\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal"}, {});
        row("304 carries no body", ScriptedResponse::status(304, "Not Modified", "body"), {});
        row("Content-Length not a number", {"HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello"}, {});
        row("Content-Length negative", closing("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello"), {});
        row("Content-Length in hexadecimal", {"HTTP/1.1 200 OK\r\nContent-Length: 0x5\r\n\r\nhello"}, {});
        row("zero bytes", ScriptedResponse::ok(QByteArray("a\0b\0\0c", 6)), QByteArray("a\0b\0\0c", 6));
        row("chunked",
            {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"},
            "abcde");
        row("ends at close", closing("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nwhole page"), "whole page");
        row("200 empty", ScriptedResponse::ok({}), {});
        row("404 empty", ScriptedResponse::status(404, "Not Found", {}), {});
        row("cut short of its length", closing("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"), {});
        // Not listed: a chunked body cut short. Qt 6.4 then sometimes resends
        // the request and reports the second partial body as complete.
        row("closed without answer", ScriptedResponse::closed(), {});

        // The time-out counts from the last data, not from the start.
        row("silent", ScriptedResponse::silence(), {}, 200);
        row("stalls mid-body", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"}, {}, 200);
        ScriptedResponse slow = ScriptedResponse::ok(QByteArray(30, 'x'));
        slow.trickleFrom = int(slow.bytes.size()) - 30;
        slow.trickleMs = 20;
        row("slow body, never idle for long", slow, QByteArray(30, 'x'), 200);

        const QByteArray atLimit(1000, 'x');
        row("at the body limit", ScriptedResponse::ok(atLimit), atLimit, PageFetcher::DefaultFetchTimeoutMs,
            1000);
        row("announced over the limit", ScriptedResponse::ok(atLimit + 'x'), {},
            PageFetcher::DefaultFetchTimeoutMs, 1000);
        row("chunked over the limit",
            {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e9\r\n" + atLimit + "x\r\n0\r\n\r\n"}, {},
            PageFetcher::DefaultFetchTimeoutMs, 1000);
        row("over the limit before the close",
            closing("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + atLimit + 'x'), {},
            PageFetcher::DefaultFetchTimeoutMs, 1000);
    }
    void outcome()
    {
        QFETCH(ScriptedResponse, response);
        QFETCH(int, fetchTimeout);
        QFETCH(qint64, bodyLimit);
        QFETCH(QByteArray, body);
        // Printed when a reply is aborted inside its own signal.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Internal problem")));
        RawHttpServer server;
        // Every request, a retry included, gets the same answer.
        server.setHandler([response](const RecordedRequest &) { return response; });
        Fetch fetch("http://" + server.hostAndPort() + "/p");
        fetch.get.setFetchTimeout(fetchTimeout);
        fetch.get.setBodyLimit(bodyLimit);
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        const bool succeeds = !body.isEmpty();
        QCOMPARE(fetch.done.size(), succeeds ? 1 : 0);
        QCOMPARE(fetch.failed.size(), succeeds ? 0 : 1);
        QCOMPARE(fetch.body(), body);
        QVERIFY(!fetch.get.isRunning());
    }

    void unreachable_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("connection refused") << "http://127.0.0.1:" + QByteArray::number(closedPort()) + "/";
        QTest::newRow("no host") << QByteArray("http:///search");
        QTest::newRow("port out of range") << QByteArray("http://127.0.0.1:70000/");
    }
    void unreachable()
    {
        QFETCH(QByteArray, url);
        Fetch fetch(url);
        fetch.get.start();
        QVERIFY(fetch.get.isRunning());
        QVERIFY(fetch.failed.isEmpty()); // reported from the event loop, not from start
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.failed.size(), 1);
        QVERIFY(fetch.done.isEmpty());
    }

    void redirectFollowed()
    {
        RawHttpServer first;
        RawHttpServer second;
        const QByteArray target = "http://" + second.hostAndPort() + "/final?q=" + text::toGbk(u"裙");
        first.enqueue(ScriptedResponse::status(302, "Found", "moved", "Location: " + target + "\r\n"));
        second.enqueue(ScriptedResponse::ok("final page"));
        Fetch fetch("http://" + first.hostAndPort() + "/start");
        fetch.get.setUserAgent("agent/1");
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.body(), QByteArray("final page"));
        const RecordedRequest request = second.requests().value(0);
        QCOMPARE(request.target, QByteArray("/final?q=%C8%B9"));
        QCOMPARE(request.header("User-Agent"), QByteArray("agent/1"));
        QCOMPARE(request.header("Pragma"), QByteArray("no-cache"));
    }

    void cancelFails()
    {
        RawHttpServer server;
        server.setHandler(
            [](const RecordedRequest &) { return ScriptedResponse::ok(QByteArray(100'000, 'p')); });
        Fetch fetch("http://" + server.hostAndPort() + "/p");
        fetch.get.start();
        fetch.get.cancel();
        fetch.get.cancel();
        QVERIFY(fetch.failed.isEmpty()); // never inside cancel()
        QVERIFY(fetch.get.isRunning());
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.failed.size(), 1);
        QVERIFY(fetch.done.isEmpty());
        QVERIFY(!fetch.get.isRunning());

        fetch.get.cancel(); // idle: nothing to report
        QCoreApplication::processEvents();
        QCOMPARE(fetch.failed.size(), 1);
    }

    void startWhileRunningIsIgnored()
    {
        RawHttpServer server;
        server.setHandler([](const RecordedRequest &request) {
            ScriptedResponse response = ScriptedResponse::ok(request.target);
            response.delayMs = 50;
            return response;
        });
        Fetch fetch("http://" + server.hostAndPort() + "/first");
        fetch.get.start();
        fetch.get.setUrl("http://" + server.hostAndPort() + "/second");
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        QCOMPARE(fetch.body(), QByteArray("/first"));

        // Once idle the component fetches again, with the properties it has now.
        fetch.get.start();
        QTRY_COMPARE(fetch.done.size(), 2);
        QCOMPARE(fetch.done.value(1).value(0).toByteArray(), QByteArray("/second"));
        QCOMPARE(server.requestCount(), 2);
    }

    void startFromItsOwnHandlerIsIgnored()
    {
        RawHttpServer server;
        server.setHandler([](const RecordedRequest &) { return ScriptedResponse::ok("page"); });
        Fetch fetch("http://" + server.hostAndPort() + "/p");
        QList<bool> runningInHandler;
        connect(&fetch.get, &PageFetcher::finished, this, [&runningInHandler, &fetch] {
            runningInHandler.append(fetch.get.isRunning());
            fetch.get.start();
        });
        fetch.get.start();
        QVERIFY(fetch.waitUntilEnded());
        QVERIFY(!fetch.get.isRunning());

        // Had the handler's start gone through, this one would be ignored
        // and a third request would reach the server.
        fetch.get.start();
        QTRY_COMPARE(fetch.done.size(), 2);
        QCOMPARE(runningInHandler, QList<bool>({true, true}));
        QCOMPARE(server.requestCount(), 2);
    }

    void handlerMayDeleteTheFetcher()
    {
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("page"));
        auto *get = new PageFetcher;
        get->setUrl("http://" + server.hostAndPort() + "/p");
        QByteArray delivered;
        connect(get, &PageFetcher::finished, this, [&delivered, get](const QByteArray &result) {
            delete get;
            delivered = result;
        });
        get->start();
        QTRY_COMPARE(delivered, QByteArray("page"));
    }

    // Nothing reaches a destroyed fetcher: neither the answer still on its
    // way nor the failure of a cancel.
    void destroyedWhileRunning_data()
    {
        QTest::addColumn<bool>("cancelFirst");
        QTest::newRow("running") << false;
        QTest::newRow("cancelled") << true;
    }
    void destroyedWhileRunning()
    {
        QFETCH(bool, cancelFirst);
        RawHttpServer server;
        server.setHandler(
            [](const RecordedRequest &request) { return ScriptedResponse::ok(request.target); });
        int events = 0;
        {
            Fetch doomed("http://" + server.hostAndPort() + "/doomed");
            connect(&doomed.get, &PageFetcher::finished, this, [&events] { ++events; });
            connect(&doomed.get, &PageFetcher::failed, this, [&events] { ++events; });
            doomed.get.start();
            if (cancelFirst)
                doomed.get.cancel();
        }
        // The shared transfer machinery goes on serving other fetchers.
        Fetch next("http://" + server.hostAndPort() + "/next");
        next.get.start();
        QVERIFY(next.waitUntilEnded());
        QCOMPARE(next.body(), QByteArray("/next"));
        QCOMPARE(events, 0);
    }

    void concurrentFetchesGetTheirOwnPages()
    {
        RawHttpServer server;
        server.setHandler(
            [](const RecordedRequest &request) { return ScriptedResponse::ok(request.target); });
        std::vector<std::unique_ptr<PageFetcher>> fetches;
        QList<QByteArray> mismatches;
        int completed = 0;
        for (int i = 0; i < 8; ++i) {
            auto get = std::make_unique<PageFetcher>();
            const QByteArray keyword = text::toGbk(u"裙") + QByteArray::number(i);
            get->setUrl("http://" + server.hostAndPort() + "/search?q=" + keyword);
            connect(get.get(), &PageFetcher::finished, this,
                    [&mismatches, &completed, keyword](const QByteArray &result) {
                        ++completed;
                        if (QByteArray::fromPercentEncoding(result) != "/search?q=" + keyword)
                            mismatches.append(result);
                    });
            get->start();
            fetches.push_back(std::move(get));
        }
        QTRY_COMPARE(completed, 8);
        QCOMPARE(mismatches, QList<QByteArray>());
    }
};

QTEST_GUILESS_MAIN(TestPageFetcher)
#include "tst_pagefetcher.moc"
