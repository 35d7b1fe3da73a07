#include "batchcontents.h"
#include "gbkliteral.h"
#include "keywordgraph.h"
#include "query/batchscheduler.h"
#include "rawhttpserver.h"
#include "resultpage.h"
#include "results/resultsmodel.h"
#include "searchrequest.h"
#include "text/gbk.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>

using testsupport::gbk;

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedResponse;
using testsupport::searchedKeyword;
using testsupport::searchedKeywords;
using ByteList = QList<QByteArray>;

Q_DECLARE_METATYPE(sim::PageEncoding)
Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

constexpr int waitMs = 10'000;
constexpr int endCheckMs = 50;

sim::ResultPage page(const QString &keyword, const QStringList &related, const QString &itemCount,
                     int sales = 50)
{
    return {
        keyword, related, itemCount, {{keyword + QStringLiteral(" 正品"), QStringLiteral("25.00"), sales}}};
}

// A marketplace that serves the result page of each keyword in pages, an
// answer from special where one is scripted, and a page with no items for
// any other keyword.
void serveMarketplace(RawHttpServer &server, const QList<sim::ResultPage> &pages,
                      sim::PageEncoding encoding = sim::PageEncoding::Gbk,
                      const QHash<QString, ScriptedResponse> &special = {})
{
    QHash<QString, sim::ResultPage> byKeyword;
    for (const sim::ResultPage &page : pages)
        byKeyword.insert(page.keyword, page);
    server.setHandler([byKeyword, encoding, special](const RecordedRequest &request) {
        const QString keyword = searchedKeyword(request);
        if (special.contains(keyword))
            return special[keyword];
        const sim::ResultPage page = byKeyword.value(keyword, {keyword, {}, QStringLiteral("0"), {}});
        return ScriptedResponse::ok(sim::renderResultPage(page, encoding));
    });
    qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
}

// The simulator's keyword graph on a scripted server: every page answered
// after its own delay of up to maxDelayMs, so pages fetched together come
// back in a shuffled order.
void serveGraph(RawHttpServer &server, int graphSize, int maxDelayMs)
{
    server.setHandler([graph = sim::KeywordGraph(graphSize), maxDelayMs](const RecordedRequest &request) {
        const QString keyword = searchedKeyword(request);
        ScriptedResponse response =
            ScriptedResponse::ok(sim::renderResultPage(graph.page(keyword), sim::PageEncoding::Gbk));
        response.delayMs = maxDelayMs > 0 ? int(qHash(keyword) % uint(maxDelayMs)) : 0;
        return response;
    });
    qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
}

// A scheduler over a results model with what it reports recorded.
struct Batch
{
    explicit Batch(const KeywordFilter &filter = {QByteArray(), false}) : filter(filter)
    {
        scheduler.setEndCheckInterval(endCheckMs);
    }

    QStringList texts(const QSignalSpy &spy) const
    {
        QStringList list;
        for (const QList<QVariant> &arguments : spy)
            list.append(arguments.at(0).toString());
        return list;
    }
    QList<ByteList> rows() const { return testsupport::tableRows(results); }
    ByteList queued() const { return testsupport::queueLines(scheduler.queue()); }
    bool waitForEnd(int ends = 1)
    {
        return QTest::qWaitFor([&] { return ended.count() >= ends; }, waitMs);
    }
    bool run(const QByteArray &seed, const CrawlSettings &settings)
    {
        scheduler.setCrawlSettings(settings);
        return scheduler.start(seed) && waitForEnd();
    }

    KeywordFilter filter;
    ResultsModel results;
    BatchScheduler scheduler{&results, [this] { return filter; }};
    QSignalSpy messages{&scheduler, &BatchScheduler::message};
    QSignalSpy totals{&scheduler, &BatchScheduler::totalTextChanged};
    QSignalSpy dones{&scheduler, &BatchScheduler::doneTextChanged};
    QSignalSpy failed{&scheduler, &BatchScheduler::failedCountChanged};
    QSignalSpy ended{&scheduler, &BatchScheduler::ended};
};

ByteList row(int number, const QString &keyword, const QByteArray &itemCount, const QByteArray &sales = "50")
{
    return {QByteArray::number(number),
            gbk(keyword),
            itemCount,
            sales,
            "25.00",
            gbk(keyword + QStringLiteral(" 正品"))};
}

QStringList doneTexts(int upTo)
{
    QStringList texts;
    for (int i = 1; i <= upTo; ++i)
        texts.append(QStringLiteral("完成：%1").arg(i));
    return texts;
}

} // namespace

class TestBatchScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Nothing may reach the real marketplace, whatever a test forgets.
        qputenv("QUILLMARSH_MARKET_HOST", "127.0.0.1:1");
    }

    void batch_data()
    {
        QTest::addColumn<sim::PageEncoding>("encoding");
        QTest::newRow("gbk") << sim::PageEncoding::Gbk;
        QTest::newRow("utf-8") << sim::PageEncoding::Utf8;
    }
    void batch()
    {
        QFETCH(sim::PageEncoding, encoding);
        RawHttpServer server;
        const QString seed = QStringLiteral("连衣裙");
        serveMarketplace(
            server,
            {page(seed, {QStringLiteral("碎花连衣裙"), QStringLiteral("连衣裙 夏"), QStringLiteral("DRESS")},
                  QStringLiteral("100")),
             page(QStringLiteral("碎花连衣裙"),
                  {seed, QStringLiteral("连衣裙 夏"), QStringLiteral("碎花连衣裙 长款")},
                  QStringLiteral("0")),
             page(QStringLiteral("连衣裙 夏"), {QStringLiteral("dress")}, QStringLiteral("30"), 7),
             page(QStringLiteral("DRESS"), {}, QStringLiteral("1,234")),
             page(QStringLiteral("碎花连衣裙 长款"), {}, QStringLiteral("0007"), 0)},
            encoding);
        Batch batch;
        QSignalSpy button(&batch.scheduler, &BatchScheduler::batchButtonEnabledChanged);
        // The window shows the end in a modal box, whose event loop keeps the
        // timers running while the user leaves it open.
        connect(&batch.scheduler, &BatchScheduler::message, this, [] { QTest::qWait(4 * endCheckMs); });

        QVERIFY(batch.scheduler.start(gbk(seed)));
        // Until stop, the batch button is disabled: a second start does nothing.
        QVERIFY(!batch.scheduler.start("other"));
        QCOMPARE(button.count(), 1);
        QCOMPARE(batch.scheduler.batchButtonEnabled(), false);
        QVERIFY(batch.waitForEnd());

        QCOMPARE(batch.rows(),
                 (QList<ByteList>{row(1, seed, "100"), row(2, QStringLiteral("连衣裙 夏"), "30", "7"),
                                  row(3, QStringLiteral("碎花连衣裙 长款"), "7", "0")}));
        QCOMPARE(batch.queued(),
                 (ByteList{gbk(seed), gbk(QStringLiteral("碎花连衣裙")), gbk(QStringLiteral("连衣裙 夏")),
                           "DRESS", gbk(QStringLiteral("碎花连衣裙 长款"))}));
        // Each line remembers the page it came from, and so its depth.
        QList<std::pair<int, int>> parentsAndDepths;
        for (int i = 0; i < batch.scheduler.queueCount(); ++i)
            parentsAndDepths.append({batch.scheduler.queue().parent(i), batch.scheduler.queue().depth(i)});
        QCOMPARE(parentsAndDepths, (QList<std::pair<int, int>>{{-1, 0}, {0, 1}, {0, 1}, {0, 1}, {1, 2}}));
        QCOMPARE(batch.texts(batch.totals),
                 (QStringList{QStringLiteral("总：0"), QStringLiteral("总：3"), QStringLiteral("总：4"),
                              QStringLiteral("总：4"), QStringLiteral("总：4"), QStringLiteral("总：4")}));
        QCOMPARE(batch.texts(batch.dones), doneTexts(5));
        QCOMPARE(batch.scheduler.nextPosition(), 6);
        QCOMPARE(batch.texts(batch.messages), QStringList{QStringLiteral("查询完成！")});
        QCOMPARE(batch.ended.count(), 1);
        QCOMPARE(batch.scheduler.batchButtonEnabled(), false);
        QCOMPARE(batch.failed.count(), 0);

        const RecordedRequest first = server.requests().value(0);
        QVERIFY2(first.target.startsWith("/search?q=") && first.target.endsWith("&sort=sale-desc"),
                 first.target);
        QCOMPARE(searchedKeyword(first), seed);
        QCOMPARE(first.header("User-Agent"),
                 QByteArray("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)"));
        QCOMPARE(server.requestCount(), 5);
        QVERIFY(!batch.scheduler.start("other"));

        batch.scheduler.stop();
        QCOMPARE(batch.scheduler.batchButtonEnabled(), true);
        QCOMPARE(batch.scheduler.queueCount(), 0);
        QCOMPARE(batch.scheduler.nextPosition(), 0);

        // A new batch clears the table and numbers its rows on.
        QVERIFY(batch.scheduler.start(gbk(QStringLiteral("连衣裙 夏"))));
        QCOMPARE(batch.rows(), QList<ByteList>{});
        QVERIFY(batch.waitForEnd(2));
        QCOMPARE(batch.rows(), QList<ByteList>{row(4, QStringLiteral("连衣裙 夏"), "30", "7")});
        QCOMPARE(batch.scheduler.rowsMade(), 4);
        QCOMPARE(batch.texts(batch.messages),
                 (QStringList{QStringLiteral("查询完成！"), QStringLiteral("查询完成！")}));
    }

    // A seed whose page names no related keyword still ends its batch.
    void singleKeywordBatch()
    {
        RawHttpServer server;
        serveMarketplace(server, {page(QStringLiteral("孤品"), {}, QStringLiteral("3"))});
        Batch batch;
        QVERIFY(batch.scheduler.start(gbk(QStringLiteral("孤品"))));
        QVERIFY(batch.waitForEnd());
        QCOMPARE(batch.rows(), QList<ByteList>{row(1, QStringLiteral("孤品"), "3")});
        QCOMPARE(batch.scheduler.nextPosition(), 2);
        QCOMPARE(batch.texts(batch.messages), QStringList{QStringLiteral("查询完成！")});
    }

    void failedFetchesAreSkipped()
    {
        RawHttpServer server;
        const QStringList related{QStringLiteral("empty"), QStringLiteral("dropped"),
                                  QStringLiteral("silent"), QStringLiteral("good")};
        serveMarketplace(server,
                         {page(QStringLiteral("start"), related, QStringLiteral("5")),
                          page(QStringLiteral("good"), {}, QStringLiteral("6"))},
                         sim::PageEncoding::Gbk,
                         {{QStringLiteral("empty"), ScriptedResponse::ok({})},
                          {QStringLiteral("dropped"), ScriptedResponse::closed()},
                          {QStringLiteral("silent"), ScriptedResponse::silence()}});
        Batch batch;
        batch.scheduler.setFetchTimeout(300);
        QVERIFY(batch.scheduler.start("start"));
        QVERIFY(batch.waitForEnd());

        QCOMPARE(batch.rows(), (QList<ByteList>{row(1, QStringLiteral("start"), "5"),
                                                row(2, QStringLiteral("good"), "6")}));
        QCOMPARE(batch.scheduler.failedCount(), 3);
        QCOMPARE(batch.failed.count(), 3);
        QCOMPARE(batch.failed.last().at(0).toInt(), 3);
        QCOMPARE(batch.texts(batch.dones), doneTexts(5));
        QCOMPARE(batch.texts(batch.messages), QStringList{QStringLiteral("查询完成！")});

        // The next batch counts its own failures.
        batch.scheduler.stop();
        QVERIFY(batch.scheduler.start("good"));
        QCOMPARE(batch.scheduler.failedCount(), 0);
        QCOMPARE(batch.failed.last().at(0).toInt(), 0);
    }

    void promptIsRefused_data()
    {
        QTest::addColumn<QByteArray>("seed");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("prompt") << gbk(QStringLiteral("请输入关键词"));
    }
    void promptIsRefused()
    {
        QFETCH(QByteArray, seed);
        Batch batch;
        batch.results.addRow({"1", "kept", "1", "1", "1.00", "row"});
        QVERIFY(!batch.scheduler.start(seed));
        QCOMPARE(batch.texts(batch.messages), QStringList{QStringLiteral("请输入关键词！")});
        QCOMPARE(batch.results.rowCount(), 1);
        QCOMPARE(batch.scheduler.queueCount(), 0);
        QCOMPARE(batch.scheduler.batchButtonEnabled(), true);
    }

    void stopIgnoresPageInFlight()
    {
        RawHttpServer server;
        ScriptedResponse slow = ScriptedResponse::ok(sim::renderResultPage(
            page(QStringLiteral("slow"), {QStringLiteral("from slow")}, QStringLiteral("5")),
            sim::PageEncoding::Gbk));
        slow.delayMs = 300;
        // Answered after the slow page would have arrived.
        ScriptedResponse fast = ScriptedResponse::ok(sim::renderResultPage(
            page(QStringLiteral("fast"), {}, QStringLiteral("9")), sim::PageEncoding::Gbk));
        fast.delayMs = 600;
        serveMarketplace(server, {}, sim::PageEncoding::Gbk,
                         {{QStringLiteral("slow"), slow}, {QStringLiteral("fast"), fast}});
        Batch batch;
        QVERIFY(batch.scheduler.start("slow"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, waitMs);
        batch.scheduler.stop();
        QVERIFY(batch.scheduler.start("fast"));
        QVERIFY(batch.waitForEnd());

        QCOMPARE(batch.rows(), QList<ByteList>{row(1, QStringLiteral("fast"), "9")});
        QCOMPARE(batch.queued(), ByteList{"fast"});
        QCOMPARE(batch.texts(batch.dones), doneTexts(1));
        QCOMPARE(batch.failed.count(), 0);
        QCOMPARE(server.requestCount(), 2);
    }

    // Pages fetched together come back in any order but are committed in
    // queue order: queue, rows, numbers and status texts equal a one-at-a-time run.
    void parallelFetchesCommitInQueueOrder_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::newRow("2") << 2;
        QTest::newRow("5") << 5;
        QTest::newRow("8 (two network managers)") << 8;
        QTest::newRow("16") << 16;
    }
    void parallelFetchesCommitInQueueOrder()
    {
        QFETCH(int, parallel);
        RawHttpServer server;
        serveGraph(server, 60, 40);
        const QByteArray seed = gbk("连衣裙");
        // Only keywords with the seed in them: the graph's 60.
        Batch single({seed, true});
        QVERIFY(single.run(seed, CrawlSettings()));
        QCOMPARE(server.connectionCount(), 1);

        Batch many({seed, true});
        CrawlSettings settings;
        settings.parallel = parallel;
        QVERIFY(many.run(seed, settings));
        QCOMPARE(many.queued(), single.queued());
        QCOMPARE(many.scheduler.queueCount(), 60);
        QList<ByteList> rows = many.rows();
        // Each scheduler numbers its own rows from 1.
        QCOMPARE(rows, single.rows());
        QCOMPARE(many.texts(many.dones), single.texts(single.dones));
        QCOMPARE(many.texts(many.messages), QStringList{QStringLiteral("查询完成！")});
        QCOMPARE(many.scheduler.nextPosition(), 61);
        QCOMPARE(many.scheduler.inFlightCount(), 0);
        // The fetches did overlap, each on a connection of its own; the single
        // run's connection was kept and used again.
        QVERIFY2(server.connectionCount() >= qMin(parallel, 8) && server.connectionCount() <= parallel,
                 qPrintable(QString::number(server.connectionCount())));
        // Each keyword was asked for once.
        QStringList again = searchedKeywords(server).mid(60);
        QStringList first = searchedKeywords(server).first(60);
        again.sort();
        first.sort();
        QCOMPARE(again, first);
    }

    void stopReleasesEveryFetchInFlight()
    {
        RawHttpServer server;
        Batch batch;
        CrawlSettings settings;
        settings.parallel = 4;
        // The seed's page arrives; the four after it are answered late.
        server.setHandler([graph = sim::KeywordGraph(30)](const RecordedRequest &request) {
            ScriptedResponse response = ScriptedResponse::ok(
                sim::renderResultPage(graph.page(searchedKeyword(request)), sim::PageEncoding::Gbk));
            response.delayMs = searchedKeyword(request) == QStringLiteral("连衣裙") ? 0 : 400;
            return response;
        });
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
        batch.scheduler.setCrawlSettings(settings);
        QVERIFY(batch.scheduler.start(gbk("连衣裙")));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 5, waitMs);
        QCOMPARE(batch.scheduler.inFlightCount(), 4);
        batch.scheduler.stop();
        QCOMPARE(batch.scheduler.inFlightCount(), 0);
        QTest::qWait(700);
        QCOMPARE(batch.results.rowCount(), 1);
        QCOMPARE(batch.scheduler.queueCount(), 0);
        QCOMPARE(batch.texts(batch.dones), doneTexts(1));
        QCOMPARE(server.requestCount(), 5);
    }

    // A page that fails once is fetched again after the lines queued when it
    // failed, and the table is the one a clean run gives.
    void failedPageIsRetried_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<ScriptedResponse>("failure");
        QTest::newRow("empty") << 1 << ScriptedResponse::ok({});
        QTest::newRow("empty, parallel") << 4 << ScriptedResponse::ok({});
        QTest::newRow("429") << 1 << ScriptedResponse::status(429, "Too Many Requests", "slow down");
        QTest::newRow("503, parallel") << 3 << ScriptedResponse::status(503, "Service Unavailable", "busy");
    }
    void failedPageIsRetried()
    {
        QFETCH(int, parallel);
        QFETCH(ScriptedResponse, failure);
        RawHttpServer clean;
        serveGraph(clean, 20, 0);
        Batch reference({gbk("连衣裙"), true});
        QVERIFY(reference.run(gbk("连衣裙"), CrawlSettings()));
        // A keyword of the second level, so that lines are queued behind it.
        const QString failing = text::fromGbk(reference.queued().value(3));

        RawHttpServer server;
        auto failedOnce = std::make_shared<std::atomic_bool>(false);
        server.setHandler([graph = sim::KeywordGraph(20), failing, failure,
                           failedOnce](const RecordedRequest &request) {
            const QString keyword = searchedKeyword(request);
            if (keyword == failing && !failedOnce->exchange(true))
                return failure;
            return ScriptedResponse::ok(sim::renderResultPage(graph.page(keyword), sim::PageEncoding::Gbk));
        });
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
        Batch batch({gbk("连衣裙"), true});
        CrawlSettings settings;
        settings.parallel = parallel;
        settings.retries = 2;
        QVERIFY(batch.run(gbk("连衣裙"), settings));

        QCOMPARE(batch.queued(), reference.queued());
        QCOMPARE(batch.results.rowCount(), reference.results.rowCount());
        QCOMPARE(batch.scheduler.failedCount(), 0);
        QCOMPARE(batch.texts(batch.dones).last(), QStringLiteral("完成：20"));
        const QStringList asked = searchedKeywords(server);
        QCOMPARE(asked.count(failing), 2);
        // Tried again only after the lines queued when it failed.
        const int failedAt = int(asked.indexOf(failing));
        const int linesThen = reference.queued().indexOf(gbk(failing)) + 1;
        QVERIFY2(asked.lastIndexOf(failing) > failedAt + 1, qPrintable(asked.join(u',')));
        QVERIFY(linesThen > 1);
    }

    // Without retries every answer with a body is a page, a 503 page included;
    // a failed fetch is counted once.
    void withoutRetriesFailuresAreCounted()
    {
        RawHttpServer server;
        serveMarketplace(server,
                         {page(QStringLiteral("start"), {QStringLiteral("gone"), QStringLiteral("busy")},
                               QStringLiteral("5"))},
                         sim::PageEncoding::Gbk,
                         {{QStringLiteral("gone"), ScriptedResponse::closed()},
                          {QStringLiteral("busy"),
                           ScriptedResponse::status(
                               503, "Service Unavailable",
                               sim::renderResultPage(page(QStringLiteral("busy"), {}, QStringLiteral("8")),
                                                     sim::PageEncoding::Gbk),
                               "Retry-After: 30\r\n")}});
        Batch batch;
        QVERIFY(batch.run("start", CrawlSettings()));
        QCOMPARE(batch.rows(), (QList<ByteList>{row(1, QStringLiteral("start"), "5"),
                                                row(2, QStringLiteral("busy"), "8")}));
        QCOMPARE(batch.scheduler.failedCount(), 1);
    }

    // Retry-After delays the next request to the marketplace, whichever
    // keyword it is for; more than a minute waits a minute.
    void retryAfterDelaysTheNextRequest()
    {
        RawHttpServer server;
        auto answered = std::make_shared<std::atomic_bool>(false);
        server.setHandler([answered](const RecordedRequest &request) {
            const QString keyword = searchedKeyword(request);
            if (keyword == QStringLiteral("start") && !answered->exchange(true))
                return ScriptedResponse::status(429, "Too Many Requests", "wait", "Retry-After: 1\r\n");
            return ScriptedResponse::ok(
                sim::renderResultPage(page(keyword, {}, QStringLiteral("5")), sim::PageEncoding::Gbk));
        });
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
        Batch batch;
        CrawlSettings settings;
        settings.retries = 1;
        QVERIFY(batch.run("start", settings));
        QCOMPARE(batch.rows(), QList<ByteList>{row(1, QStringLiteral("start"), "5")});
        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        const qint64 waited = requests[1].receivedMs - requests[0].receivedMs;
        QVERIFY2(waited >= 980, qPrintable(QString::number(waited)));
    }

    // The least time between the starts of two requests holds with several
    // fetches at once too; jitter only adds to it.
    void delayBetweenRequestStarts_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<int>("jitter");
        QTest::newRow("one at a time") << 1 << 0;
        QTest::newRow("four at once") << 4 << 0;
        QTest::newRow("four at once, with jitter") << 4 << 60;
    }
    void delayBetweenRequestStarts()
    {
        QFETCH(int, parallel);
        QFETCH(int, jitter);
        RawHttpServer server;
        // Slow answers, so that with several at once fetches overlap.
        serveGraph(server, 8, parallel > 1 ? 200 : 0);
        Batch batch({gbk("连衣裙"), true});
        CrawlSettings settings;
        settings.parallel = parallel;
        settings.delayMs = 80;
        settings.jitterMs = jitter;
        QVERIFY(batch.run(gbk("连衣裙"), settings));
        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 8);
        // Arrival times stand for start times, but a busy machine may hold
        // one request back and let the next follow it closely: only the
        // whole span is measured, with one delay to spare.
        const qint64 span = requests.last().receivedMs - requests.first().receivedMs;
        QVERIFY2(span >= 6 * 80, qPrintable(QString::number(span)));
    }

    void budgets_data()
    {
        QTest::addColumn<int>("maxKeywords");
        QTest::addColumn<int>("maxDepth");
        QTest::addColumn<int>("fetched");
        QTest::newRow("five keywords") << 5 << -1 << 5;
        QTest::newRow("five keywords, in parallel") << 5 << -1 << 5;
        QTest::newRow("seed only") << 0 << 0 << 1;
        QTest::newRow("one level") << 0 << 1 << 1 + sim::KeywordGraph::Arity;
    }
    void budgets()
    {
        QFETCH(int, maxKeywords);
        QFETCH(int, maxDepth);
        QFETCH(int, fetched);
        RawHttpServer server;
        serveGraph(server, 100, 0);
        Batch batch({gbk("连衣裙"), true});
        CrawlSettings settings;
        settings.maxKeywords = maxKeywords;
        settings.maxDepth = maxDepth;
        settings.parallel = QByteArray(QTest::currentDataTag()).contains("parallel") ? 4 : 1;
        QVERIFY(batch.run(gbk("连衣裙"), settings));
        QCOMPARE(server.requestCount(), fetched);
        QCOMPARE(batch.texts(batch.dones).last(), QStringLiteral("完成：%1").arg(fetched));
        QCOMPARE(batch.scheduler.waitingCount(), 0);
        if (maxDepth >= 0) {
            QCOMPARE(batch.scheduler.queueCount(), fetched);
            for (int i = 0; i < batch.scheduler.queueCount(); ++i)
                QVERIFY(batch.scheduler.queue().depth(i) <= maxDepth);
        } else {
            QVERIFY(batch.scheduler.queueCount() > fetched);
        }
    }

    // A seed page with none of the markers: counted, kept in the data folder
    // and reported at once.
    void unrecognisedSeedPage()
    {
        QTemporaryDir dataFolder;
        qputenv("QUILLMARSH_DATA_DIR", dataFolder.path().toLocal8Bit());
        const QByteArray signIn = "<html><head><title>sign in</title></head><body><form action=\"/login\">"
                                  "<input name=\"password\"></form></body></html>";
        RawHttpServer server;
        serveMarketplace(server, {}, sim::PageEncoding::Gbk,
                         {{QStringLiteral("连衣裙"), ScriptedResponse::ok(signIn)}});
        Batch batch;
        QSignalSpy warnings(&batch.scheduler, &BatchScheduler::seedPageUnrecognised);
        QSignalSpy unrecognised(&batch.scheduler, &BatchScheduler::unrecognisedCountChanged);
        QVERIFY(batch.run(gbk("连衣裙"), CrawlSettings()));
        qunsetenv("QUILLMARSH_DATA_DIR");
        QCOMPARE(warnings.count(), 1);
        const QString kept = dataFolder.filePath(QStringLiteral("unrecognised-page.html"));
        QVERIFY2(warnings.first().at(0).toString().endsWith(kept),
                 qPrintable(warnings.first().at(0).toString()));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), signIn);
        QCOMPARE(batch.scheduler.unrecognisedCount(), 1);
        QCOMPARE(unrecognised.count(), 1);
        // Stopped while the warning is open (a modal box runs the event
        // loop), the next batch starts from its own seed.
        connect(&batch.scheduler, &BatchScheduler::seedPageUnrecognised, this, [&batch] {
            batch.scheduler.stop();
            QTest::qWait(2 * endCheckMs);
        });
        batch.scheduler.stop();
        QVERIFY(batch.scheduler.start(gbk("连衣裙")));
        QTRY_COMPARE_WITH_TIMEOUT(warnings.count(), 2, waitMs);
        QTest::qWait(2 * endCheckMs);
        QCOMPARE(batch.scheduler.nextPosition(), 0);
        QCOMPARE(batch.scheduler.batchButtonEnabled(), true);
        // A page of the marketplace's own with nothing found is recognised.
        QVERIFY(batch.scheduler.start("other"));
        QVERIFY(batch.waitForEnd(2));
        QCOMPARE(batch.scheduler.unrecognisedCount(), 0);
        QCOMPARE(warnings.count(), 2);
        QCOMPARE(server.requests().last().target, QByteArray("/search?q=other&sort=sale-desc"));
    }

    // The user's cookie goes with every request, next to the cookies the
    // marketplace sets.
    void cookieIsSent()
    {
        RawHttpServer server;
        serveMarketplace(
            server, {page(QStringLiteral("start"), {QStringLiteral("next")}, QStringLiteral("5"))},
            sim::PageEncoding::Gbk,
            {{QStringLiteral("start"),
              ScriptedResponse::ok(sim::renderResultPage(page(QStringLiteral("start"),
                                                              {QStringLiteral("next")}, QStringLiteral("5")),
                                                         sim::PageEncoding::Gbk),
                                   "Set-Cookie: visit=42; Path=/\r\n")}});
        Batch batch;
        batch.scheduler.setCookie("session=abc; user=demo");
        QVERIFY(batch.run("start", CrawlSettings()));
        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].header("Cookie"), QByteArray("session=abc; user=demo"));
        QCOMPARE(requests[1].header("Cookie"), QByteArray("session=abc; user=demo; visit=42"));
    }
};

QTEST_GUILESS_MAIN(TestBatchScheduler)
#include "tst_batchscheduler.moc"
