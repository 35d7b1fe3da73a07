#include "gbkliteral.h"
#include "query/batchscheduler.h"
#include "rawhttpserver.h"
#include "resultpage.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QSignalSpy>
#include <QTest>

using testsupport::gbk;

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedResponse;
using ByteList = QList<QByteArray>;

Q_DECLARE_METATYPE(sim::PageEncoding)

namespace {

constexpr int waitMs = 10'000;
constexpr int endCheckMs = 50;

sim::ResultPage page(const QString &keyword, const QStringList &related, const QString &itemCount,
                     int sales = 50)
{
    return {
        keyword, related, itemCount, {{keyword + QStringLiteral(" 正品"), QStringLiteral("25.00"), sales}}};
}

// The keyword a search request asks for, as the GBK bytes the program queued.
QString requestedKeyword(const RecordedRequest &request)
{
    const qsizetype from = request.target.indexOf("?q=") + 3;
    const qsizetype to = request.target.lastIndexOf("&sort=sale-desc");
    return text::fromGbk(QByteArray::fromPercentEncoding(request.target.mid(from, to - from)));
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
        const QString keyword = requestedKeyword(request);
        if (special.contains(keyword))
            return special[keyword];
        const sim::ResultPage page = byKeyword.value(keyword, {keyword, {}, QStringLiteral("0"), {}});
        return ScriptedResponse::ok(sim::renderResultPage(page, encoding));
    });
    qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
}

// A scheduler over a results model with what it reports recorded.
struct Batch
{
    Batch() { scheduler.setEndCheckInterval(endCheckMs); }

    QStringList texts(const QSignalSpy &spy) const
    {
        QStringList list;
        for (const QList<QVariant> &arguments : spy)
            list.append(arguments.at(0).toString());
        return list;
    }
    QList<ByteList> rows() const
    {
        QList<ByteList> list;
        for (int i = 0; i < results.rowCount(); ++i) {
            const ResultRow row = results.row(i);
            list.append(ByteList(row.begin(), row.end()));
        }
        return list;
    }
    ByteList queued() const
    {
        ByteList lines;
        for (int i = 0; i < scheduler.queueCount(); ++i)
            lines.append(scheduler.queue().line(i));
        return lines;
    }
    bool waitForEnd(int ends = 1)
    {
        return QTest::qWaitFor([&] { return ended.count() >= ends; }, waitMs);
    }

    ResultsModel results;
    BatchScheduler scheduler{&results, [] { return KeywordFilter{QByteArray(), false}; }};
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
        QCOMPARE(requestedKeyword(first), seed);
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
};

QTEST_GUILESS_MAIN(TestBatchScheduler)
#include "tst_batchscheduler.moc"
