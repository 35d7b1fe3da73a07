#include "net/accountrequest.h"
#include "rawhttpserver.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using testsupport::RawHttpServer;
using testsupport::ScriptedResponse;

Q_DECLARE_METATYPE(QList<ScriptedResponse>)
Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

using namespace std::chrono_literals;

// Short waits so the silent and slow cases finish quickly; small limits so the
// flood cases stay cheap.
AccountRequest::Settings testSettings()
{
    AccountRequest::Settings settings;
    settings.readTimeout = 1s;
    settings.redirectBodyTimeout = 300ms;
    settings.errorBodyTimeout = 1s;
    settings.maxHeaderBytes = 64 * 1024;
    settings.maxBodyBytes = 64 * 1024;
    return settings;
}

QByteArray expectedRequest(const QByteArray &target, const QByteArray &host, const QByteArray &cookie = {})
{
    QByteArray request = "GET " + target +
                         " HTTP/1.1\r\n"
                         "Content-Type: text/html\r\n"
                         "Host: " +
                         host +
                         "\r\n"
                         "Accept: text/html, */*\r\n"
                         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    return request + "\r\n";
}

ScriptedResponse redirect(const QByteArray &location, const QByteArray &extraHeaders = {})
{
    return ScriptedResponse::status(302, "Found", "moved", "Location: " + location + "\r\n" + extraHeaders);
}

ScriptedResponse raw(const QByteArray &bytes, bool close = false)
{
    ScriptedResponse response{bytes};
    response.close = close;
    return response;
}

// The first `from` bytes at once, then one byte every 50 ms: never silent
// long enough for a read time-out.
ScriptedResponse trickled(const QByteArray &bytes, qsizetype from)
{
    ScriptedResponse response{bytes};
    response.trickleMs = 50;
    response.trickleFrom = int(from);
    return response;
}

// "@ORIGIN@" in a script stands for the running server's "http://127.0.0.1:PORT".
ScriptedResponse withOrigin(ScriptedResponse response, const QByteArray &origin)
{
    response.bytes.replace("@ORIGIN@", origin);
    return response;
}

} // namespace

class TestAccountRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestBytes_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("plain login") << QByteArray("user=demo&pass=demo&softname=Tolvanic")
                                     << QByteArray("/click_user.asp?user=demo&pass=demo&softname=Tolvanic");
        QTest::newRow("chinese user name, raw GBK")
            << QByteArray("user=\xd5\xc5\xc8\xfd&pass=p&softname=Tolvanic")
            << QByteArray("/click_user.asp?user=\xd5\xc5\xc8\xfd&pass=p&softname=Tolvanic");
        QTest::newRow("space stands raw")
            << QByteArray("user=a b&pass=c+d=e&softname=Tolvanic")
            << QByteArray("/click_user.asp?user=a b&pass=c+d=e&softname=Tolvanic");
        QTest::newRow("backslash becomes slash")
            << QByteArray("user=a\\b&pass=p&softname=Tolvanic")
            << QByteArray("/click_user.asp?user=a/b&pass=p&softname=Tolvanic");
        // 0x5C as the trail byte of a GBK character is not a backslash.
        QTest::newRow("GBK trail byte 0x5C kept")
            << QByteArray("user=\x81\\\\&pass=p&softname=Tolvanic")
            << QByteArray("/click_user.asp?user=\x81\\/&pass=p&softname=Tolvanic");
        QTest::newRow("hash in password cuts the target")
            << QByteArray("user=u&pass=a#b&softname=Tolvanic") << QByteArray("/click_user.asp?user=u&pass=a");
    }
    void requestBytes()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, target);
        RawHttpServer server;
        server.enqueue(ScriptedResponse::ok("fine"));

        const QByteArray body =
            AccountRequest(testSettings()).get("http://" + server.hostAndPort() + "/click_user.asp?" + query);

        QCOMPARE(body, QByteArray("fine"));
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.requests().at(0).raw, expectedRequest(target, server.hostAndPort()));
    }

    // A redirected request carries the cookie of the answer before it, last of its headers.
    void redirectedRequestBytes()
    {
        RawHttpServer server;
        server.enqueue(redirect("/next.asp", "Set-Cookie: sid=42; path=/\r\n"));
        server.enqueue(ScriptedResponse::ok("done"));

        AccountRequest(testSettings()).get("http://" + server.hostAndPort() + "/click_user.asp?user=u");

        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(server.requests().at(0).raw,
                 expectedRequest("/click_user.asp?user=u", server.hostAndPort()));
        QCOMPARE(server.requests().at(1).raw, expectedRequest("/next.asp", server.hostAndPort(), "sid=42"));
    }

    void answers_data()
    {
        QTest::addColumn<QList<ScriptedResponse>>("script");
        QTest::addColumn<QByteArray>("body"); // the result, or the body an error status carries
        QTest::addColumn<QString>("failure"); // "", "network: <message>" or "protocol <code>"
        QTest::addColumn<QByteArrayList>("targets");
        QTest::addColumn<QByteArrayList>("cookies");
        QTest::addColumn<QList<int>>("connections");

        const QByteArray first = "/dir/click_user.asp?user=u";
        const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };

        row("200") << QList{ScriptedResponse::ok("hello")} << QByteArray("hello") << QString()
                   << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("302 with cookie, same connection")
            << QList{redirect("/next.asp", "Set-Cookie: sid=42; path=/\r\n"), ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/next.asp"}
            << QByteArrayList{"", "sid=42"} << QList{1, 1};
        row("cookie for another path not sent")
            << QList{redirect("/public/a", "Set-Cookie: sid=42; path=/private\r\n"),
                     ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/public/a"} << QByteArrayList{"", ""}
            << QList{1, 1};
        row("cookie whose path names the script itself")
            << QList{redirect("/dir/click_user.asp?step=2",
                              "Set-Cookie: sid=42; Path=/dir/click_user.asp\r\n"),
                     ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/dir/click_user.asp?step=2"}
            << QByteArrayList{"", "sid=42"} << QList{1, 1};
        {
            // A real login sets a handful; past the call's limit, cookies are ignored.
            QByteArray setCookies;
            QByteArrayList kept;
            for (int i = 0; i < 100; ++i) {
                setCookies += "Set-Cookie: c" + QByteArray::number(i) + "=v; path=/\r\n";
                if (i < AccountRequest::Settings().maxCookies)
                    kept.append("c" + QByteArray::number(i) + "=v");
            }
            row("cookies kept per call are bounded")
                << QList{redirect("/next.asp", setCookies), ScriptedResponse::ok("done")}
                << QByteArray("done") << QString() << QByteArrayList{first, "/next.asp"}
                << QByteArrayList{"", kept.join("; ")} << QList{1, 1};
        }
        // A CR would go raw into the next request and start header lines there.
        row("bare CR in Location")
            << QList{raw(
                   "HTTP/1.1 302 Found\r\nLocation: /next.asp\rX-Injected: 1\r\nContent-Length: 0\r\n\r\n")}
            << QByteArray() << QStringLiteral("protocol 302") << QByteArrayList{first} << QByteArrayList{""}
            << QList{1};
        row("bare CR in Set-Cookie") << QList{redirect("/next.asp", "Set-Cookie: sid=1\rX-Injected: 1\r\n"),
                                              ScriptedResponse::ok("done")}
                                     << QByteArray() << QStringLiteral("protocol 302")
                                     << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("Connection: close opens a new connection")
            << QList{redirect("/next.asp", "Connection: close\r\n"), ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/next.asp"} << QByteArrayList{"", ""}
            << QList{1, 2};
        row("relative location with dot segments")
            << QList{redirect("sub/../other/./page.asp?x=1/../y"), ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/dir/other/page.asp?x=1/../y"}
            << QByteArrayList{"", ""} << QList{1, 1};
        row("absolute location") << QList{redirect("@ORIGIN@/abs/page.asp"), ScriptedResponse::ok("done")}
                                 << QByteArray("done") << QString() << QByteArrayList{first, "/abs/page.asp"}
                                 << QByteArrayList{"", ""} << QList{1, 1};
        // The leftover of a body that never ends must not be read as the next answer.
        row("redirect body not ended in time, next request on a new connection")
            << QList{raw("HTTP/1.1 302 Found\r\nLocation: /next.asp\r\n\r\nendless"),
                     ScriptedResponse::ok("done")}
            << QByteArray("done") << QString() << QByteArrayList{first, "/next.asp"} << QByteArrayList{"", ""}
            << QList{1, 2};
        row("200 with Location is followed")
            << QList{ScriptedResponse::ok("first", "Location: /second\r\n"), ScriptedResponse::ok("second")}
            << QByteArray("second") << QString() << QByteArrayList{first, "/second"} << QByteArrayList{"", ""}
            << QList{1, 1};
        {
            QList<ScriptedResponse> loop(15, redirect("/again"));
            loop.append(ScriptedResponse::ok("never asked for"));
            QByteArrayList targets{first};
            targets.append(QByteArrayList(14, "/again"));
            row("fifteen redirects give an empty body") << loop << QByteArray() << QString() << targets
                                                        << QByteArrayList(15, "") << QList<int>(15, 1);
        }
        row("100 then 200")
            << QList{raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")}
            << QByteArray("ok") << QString() << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        {
            QByteArray interim;
            while (interim.size() <= 2 * testSettings().maxHeaderBytes)
                interim += "HTTP/1.1 100 Continue\r\n\r\n";
            row("interim answers count against the header limit")
                << QList{raw(interim)} << QByteArray() << QStringLiteral("network: Header block too large.")
                << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        }
        row("chunked") << QList{raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "5\r\nhello\r\n6 size cut at space\r\n world\r\n0\r\n\r\n")}
                       << QByteArray("hello world") << QString() << QByteArrayList{first}
                       << QByteArrayList{""} << QList{1};
        row("chunked, a size line that is not hexadecimal ends it")
            << QList{raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\n\r\n")}
            << QByteArray("hello") << QString() << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("chunk size beyond any memory")
            << QList{raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                         "ffffffffffffffffffff\r\nhello\r\n")}
            << QByteArray() << QStringLiteral("network: Answer too large.") << QByteArrayList{first}
            << QByteArrayList{""} << QList{1};
        row("close-delimited") << QList{raw("HTTP/1.1 200 OK\r\n\r\nuntil the close", true)}
                               << QByteArray("until the close") << QString() << QByteArrayList{first}
                               << QByteArrayList{""} << QList{1};
        row("close-delimited beyond the body limit")
            << QList{raw("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(70 * 1024, 'x'), true)} << QByteArray()
            << QStringLiteral("network: Answer too large.") << QByteArrayList{first} << QByteArrayList{""}
            << QList{1};
        row("Content-Length longer than what arrives")
            << QList{raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", true)} << QByteArray("short")
            << QString() << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("204") << QList{raw("HTTP/1.1 204 No Content\r\n\r\n")} << QByteArray() << QString()
                   << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("404") << QList{ScriptedResponse::status(404, "Not Found", "missing")} << QByteArray("missing")
                   << QStringLiteral("protocol 404") << QByteArrayList{first} << QByteArrayList{""}
                   << QList{1};
        row("500") << QList{ScriptedResponse::status(500, "Internal Server Error", "broken")}
                   << QByteArray("broken") << QStringLiteral("protocol 500") << QByteArrayList{first}
                   << QByteArrayList{""} << QList{1};
        row("304 is an error") << QList{raw("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n")}
                               << QByteArray() << QStringLiteral("protocol 304") << QByteArrayList{first}
                               << QByteArrayList{""} << QList{1};
        row("status without a number")
            << QList{ScriptedResponse{"HTTP/1.1 OK\r\nContent-Length: 1\r\n\r\nx"}} << QByteArray("x")
            << QStringLiteral("protocol -1") << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("redirect to https") << QList{redirect("https://127.0.0.1/secure")} << QByteArray()
                                 << QStringLiteral("network: https is not supported.")
                                 << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("closed before the status line") << QList{ScriptedResponse::closed()} << QByteArray()
                                             << QStringLiteral("network: Connection closed gracefully.")
                                             << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        row("closed inside the headers")
            << QList{raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", true)} << QByteArray()
            << QStringLiteral("network: Connection closed gracefully.") << QByteArrayList{first}
            << QByteArrayList{""} << QList{1};
        row("silent server") << QList{ScriptedResponse::silence()} << QByteArray()
                             << QStringLiteral("network: Read timed out.") << QByteArrayList{first}
                             << QByteArrayList{""} << QList{1};
        row("line of 16384 bytes") << QList{ScriptedResponse::ok("ok", "X-Long: " + QByteArray(16376, 'a') +
                                                                           "\r\n")}
                                   << QByteArray("ok") << QString() << QByteArrayList{first}
                                   << QByteArrayList{""} << QList{1};
        row("line over 16384 bytes") << QList{ScriptedResponse::ok("ok", "X-Long: " + QByteArray(16377, 'a') +
                                                                             "\r\n")}
                                     << QByteArray() << QStringLiteral("network: Max line length exceeded.")
                                     << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        {
            QByteArray flood;
            for (int i = 0; i < 1000; ++i)
                flood += "X-Flood-" + QByteArray::number(i) + ": " + QByteArray(100, 'f') + "\r\n";
            row("endless header block") << QList{ScriptedResponse::ok("ok", flood)} << QByteArray()
                                        << QStringLiteral("network: Header block too large.")
                                        << QByteArrayList{first} << QByteArrayList{""} << QList{1};
        }
    }
    void answers()
    {
        QFETCH(QList<ScriptedResponse>, script);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);
        QFETCH(QByteArrayList, targets);
        QFETCH(QByteArrayList, cookies);
        QFETCH(QList<int>, connections);

        RawHttpServer server;
        const QByteArray origin = "http://" + server.hostAndPort();
        for (const ScriptedResponse &response : script)
            server.enqueue(withOrigin(response, origin));

        QString failed;
        QByteArray result;
        try {
            result = AccountRequest(testSettings()).get(origin + "/dir/click_user.asp?user=u");
        } catch (const AccountRequestError &error) {
            if (error.kind() == AccountRequestError::Kind::Network) {
                failed = QStringLiteral("network: ") + error.message();
            } else {
                failed = QStringLiteral("protocol %1").arg(error.statusCode());
                QVERIFY(error.statusLine().startsWith("HTTP/1.1 "));
                result = error.body();
            }
        }

        QCOMPARE(failed, failure);
        QCOMPARE(result, body);
        const QList<testsupport::RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), targets.size());
        for (qsizetype i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests[i].target, targets[i]);
            QCOMPARE(requests[i].header("Cookie"), cookies[i]);
            QCOMPARE(requests[i].connection, connections[i]);
        }
    }

    // Servers that answer every request wrongly and never give up: each call
    // ends with its error within the call's deadline, and the event loop keeps
    // running all the while.
    void misbehavingServer_data()
    {
        QTest::addColumn<ScriptedResponse>("response");
        QTest::addColumn<QString>("failure"); // empty: the call ends without error
        QTest::addColumn<int>("requests");

        const QByteArray okHead = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        QTest::newRow("body trickled") << trickled(okHead + QByteArray(1000, 'x'), okHead.size())
                                       << QStringLiteral("Exchange timed out.") << 1;
        QByteArray headers = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < 100; ++i)
            headers += "X-Slow: " + QByteArray::number(i) + "\r\n";
        QTest::newRow("headers trickled")
            << trickled(headers, 0) << QStringLiteral("Exchange timed out.") << 1;
        const QByteArray redirectHead =
            "HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 1000\r\n\r\n";
        QTest::newRow("redirect body trickled")
            << trickled(redirectHead + QByteArray(1000, 'x'), redirectHead.size())
            << QStringLiteral("Exchange timed out.") << 1;
        QTest::newRow("chunk size line never ended")
            << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray(20000, '1'))
            << QStringLiteral("Max line length exceeded.") << 1;
        QTest::newRow("header line never ended")
            << raw("HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(100000, 'a'))
            << QStringLiteral("Max line length exceeded.") << 1;
        QTest::newRow("garbage instead of HTTP")
            << raw(QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n\xff\xfe garbage\n", 24), true)
            << QStringLiteral("Connection closed gracefully.") << 1;
        {
            // Thousands of cookies per answer: storing them all takes time that
            // grows with the square of their number.
            QByteArray cookies;
            for (int i = 0; cookies.size() < 60'000; ++i)
                cookies += "Set-Cookie: c" + QByteArray::number(i) + "=v\r\n";
            QTest::newRow("cookie flood on every redirect")
                << raw("HTTP/1.1 302 Found\r\nLocation: /again\r\n" + cookies + "Content-Length: 0\r\n\r\n")
                << QString() << 15;
        }
        QTest::newRow("endless redirects, a new connection each")
            << raw("HTTP/1.1 302 Found\r\nLocation: /again\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
                   true)
            << QString() << 15;
    }
    void misbehavingServer()
    {
        QFETCH(ScriptedResponse, response);
        QFETCH(QString, failure);
        QFETCH(int, requests);
        RawHttpServer server;
        server.setHandler([response](const testsupport::RecordedRequest &) { return response; });

        AccountRequest::Settings settings = testSettings();
        settings.readTimeout = 500ms;
        settings.redirectBodyTimeout = 500ms;
        settings.totalTimeout = 1500ms;

        // The longest stretch in which the event loop did not run: between the
        // call's start, the ticks of a 10 ms timer and the call's end.
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        ticker.start(10);
        clock.start();
        QString failed;
        QByteArray body = "not returned";
        try {
            body = AccountRequest(settings).get("http://" + server.hostAndPort() + "/click_user.asp?user=u");
        } catch (const AccountRequestError &error) {
            failed = error.message();
        }
        const qint64 held = clock.elapsed();
        longestGap = std::max(longestGap, held - lastTick);
        qInfo("server held the call for %lld ms; longest stretch without events %lld ms", held, longestGap);

        QCOMPARE(failed, failure);
        if (failure.isEmpty())
            QCOMPARE(body, QByteArray());
        QCOMPARE(server.requestCount(), requests);
        QVERIFY2(held < settings.totalTimeout.count() + 1000, "the deadline did not end the call");
        QVERIFY2(longestGap < 500, "the event loop stalled during the call");
    }

    // A listening socket whose accept queue is full drops further connection
    // attempts, so connecting hangs without any packet leaving the machine.
    void connectTimeout()
    {
#ifdef Q_OS_LINUX
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(listener >= 0);
        const auto closeListener = qScopeGuard([listener] { ::close(listener); });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(listen(listener, 0), 0);
        socklen_t length = sizeof address;
        QCOMPARE(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
        const quint16 port = ntohs(address.sin_port);

        std::vector<std::unique_ptr<QTcpSocket>> queued;
        for (bool connected = true; connected && queued.size() < 8;) {
            queued.push_back(std::make_unique<QTcpSocket>());
            queued.back()->connectToHost(QHostAddress::LocalHost, port);
            connected = queued.back()->waitForConnected(300);
        }
        QVERIFY2(queued.back()->state() != QAbstractSocket::ConnectedState, "the accept queue never filled");

        AccountRequest::Settings settings = testSettings();
        settings.connectTimeout = 200ms;
        try {
            AccountRequest(settings).get("http://127.0.0.1:" + QByteArray::number(port) + "/click_user.asp");
            QFAIL("connected to a full accept queue");
        } catch (const AccountRequestError &error) {
            QCOMPARE(error.message(), QStringLiteral("Connect timed out."));
        }
#else
        QSKIP("needs a listening socket that is never accepted from");
#endif
    }
};

QTEST_GUILESS_MAIN(TestAccountRequest)
#include "tst_accountrequest.moc"
