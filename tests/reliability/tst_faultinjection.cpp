#include "query/batchscheduler.h"
#include "rawhttpserver.h"
#include "resultpage.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedResponse;

namespace {

constexpr int graphSize = 1500;
constexpr qint64 bodyLimit = 64 * 1024;
constexpr int fetchTimeoutMs = 300;
const QString keywordPrefix = QStringLiteral("连衣裙");

// How the marketplace fails a keyword's page.
enum class Failure
{
    None,
    Drop,            // closes the connection without answering
    Empty,           // 200 with an empty body
    Silence,         // accepts the request and never answers
    Garbage,         // bytes that are not HTTP, then the close
    Oversized,       // a close-delimited body over the fetcher's limit
    EndlessRedirect, // redirects to the same address for ever
};
constexpr int failureModes = 6;

// Every tenth keyword, from the seventh on, fails, each mode in turn.
Failure failureOf(int n)
{
    return n % 10 == 7 ? Failure(1 + n / 10 % failureModes) : Failure::None;
}

// Keyword n lists three others, so most keywords stay reachable when one of
// the pages that lists them fails; n + 1 alone reaches the whole graph.
QStringList relatedOf(int n)
{
    QStringList related;
    for (const int m : {(n * 7 + 1) % graphSize, (n * 13 + 5) % graphSize, (n + 1) % graphSize})
        related.append(keywordPrefix + QString::number(m));
    return related;
}

// Every seventeenth page lists no item and so gives no row.
bool givesRow(int n)
{
    return n % 17 != 3;
}

QByteArray pageOf(int n)
{
    const QString keyword = keywordPrefix + QString::number(n);
    const sim::ListedItem best{keyword + QStringLiteral(" 正品"),
                               QStringLiteral("%1.%2").arg(n % 300).arg(n % 100, 2, 10, QLatin1Char('0')),
                               n * 37 % 5000};
    return sim::renderResultPage(
        {keyword, relatedOf(n), givesRow(n) ? QString::number(100 + n) : QStringLiteral("0"), {best}},
        sim::PageEncoding::Gbk);
}

int keywordNumber(const QByteArray &keyword)
{
    const QString text = text::fromGbk(keyword);
    bool isNumber = false;
    const int n = text.startsWith(keywordPrefix) ? text.sliced(keywordPrefix.size()).toInt(&isNumber) : -1;
    return isNumber ? n : -1;
}

ScriptedResponse failedAnswer(Failure failure, const QByteArray &target)
{
    switch (failure) {
    case Failure::Drop:
        return ScriptedResponse::closed();
    case Failure::Empty:
        return ScriptedResponse::ok({});
    case Failure::Silence:
        return ScriptedResponse::silence();
    case Failure::Garbage:
        return {QByteArray("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1 not a status line\r\n\xff\xfe\r\n\r\n", 33),
                true};
    case Failure::Oversized:
        return {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + QByteArray(2 * bodyLimit, 'x'), true};
    case Failure::EndlessRedirect:
        return ScriptedResponse::status(302, "Found", "moved", "Location: " + target + "\r\n");
    case Failure::None:
        break;
    }
    return {};
}

// What the marketplace served, by keyword number. Written on the server's thread.
struct Served
{
    QMutex mutex;
    QSet<int> asked;
    QSet<int> failed;
    QSet<int> rowPages;
    QSet<int> emptyPages;
};

// A batch's end state: the counts and the rows by keyword number.
struct Outcome
{
    int dispatched = 0;
    int failures = 0;
    QSet<int> queued;
    QHash<int, ResultRow> rows;
};

} // namespace

class TestFaultInjection : public QObject
{
    Q_OBJECT

private:
    void runBatch(bool injectFailures, Served &served, Outcome &outcome)
    {
        RawHttpServer server;
        server.setHandler([injectFailures, &served](const RecordedRequest &request) {
            const qsizetype from = request.target.indexOf("?q=") + 3;
            const qsizetype to = request.target.lastIndexOf("&sort=sale-desc");
            const int n = keywordNumber(QByteArray::fromPercentEncoding(request.target.mid(from, to - from)));
            const Failure failure = injectFailures ? failureOf(n) : Failure::None;
            QMutexLocker lock(&served.mutex);
            served.asked.insert(n);
            if (failure != Failure::None) {
                served.failed.insert(n);
                return failedAnswer(failure, request.target);
            }
            (givesRow(n) ? served.rowPages : served.emptyPages).insert(n);
            return ScriptedResponse::ok(pageOf(n));
        });
        qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());

        ResultsModel results;
        BatchScheduler scheduler(&results, [] { return KeywordFilter{{}, false}; });
        scheduler.setEndCheckInterval(50);
        scheduler.setFetchTimeout(fetchTimeoutMs);
        scheduler.setFetchBodyLimit(bodyLimit);
        QSignalSpy ended(&scheduler, &BatchScheduler::ended);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(scheduler.start(text::toGbk(keywordPrefix + QStringLiteral("0"))));
        // A real event loop: QTRY_* sleeps between its passes, which would
        // add its naps to every page.
        QVERIFY(ended.wait(240'000));
        qInfo("batch %s failures ended after %lld ms", injectFailures ? "with" : "without", clock.elapsed());

        // The tick that found no line counts as well.
        QCOMPARE(scheduler.nextPosition(), scheduler.queueCount() + 1);
        outcome.dispatched = scheduler.queueCount();
        outcome.failures = scheduler.failedCount();
        for (int i = 0; i < scheduler.queueCount(); ++i)
            outcome.queued.insert(keywordNumber(scheduler.queue().line(i)));
        for (int position = 0; position < results.rowCount(); ++position) {
            ResultRow row = results.row(position);
            const int n = keywordNumber(row[ResultsModel::Keyword]);
            QVERIFY2(!outcome.rows.contains(n), "a keyword gave two rows");
            row[ResultsModel::Number].clear(); // numbered in arrival order, which failures change
            outcome.rows.insert(n, row);
        }
        QCOMPARE(outcome.queued.size(), outcome.dispatched); // no keyword queued twice
    }

private Q_SLOTS:
    // A thousand-keyword batch against a marketplace that fails one page in
    // ten in every way it can: the batch ends, and every dispatched keyword
    // is a row, a page without a row or a counted failure. Each row is the
    // one the same keyword gives in a clean run.
    void failingMarketplaceLosesNothing()
    {
        Served cleanServed;
        Outcome clean;
        runBatch(false, cleanServed, clean);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(clean.dispatched, graphSize);
        QCOMPARE(clean.failures, 0);
        QCOMPARE(clean.rows.size() + cleanServed.emptyPages.size(), graphSize);

        Served served;
        Outcome faulty;
        runBatch(true, served, faulty);
        if (QTest::currentTestFailed())
            return;
        qInfo("clean run: %d dispatched, %lld rows, %lld pages without a row; with failures: %d dispatched, "
              "%lld rows, %lld pages without a row, %d failures",
              clean.dispatched, qint64(clean.rows.size()), qint64(cleanServed.emptyPages.size()),
              faulty.dispatched, qint64(faulty.rows.size()), qint64(served.emptyPages.size()),
              faulty.failures);

        QVERIFY(faulty.dispatched >= 1000);
        QCOMPARE(served.asked, faulty.queued);
        QCOMPARE(faulty.failures, served.failed.size());
        QCOMPARE(faulty.dispatched, faulty.rows.size() + served.emptyPages.size() + faulty.failures);
        for (int mode = 1; mode <= failureModes; ++mode) {
            const bool modeSeen = std::any_of(served.failed.cbegin(), served.failed.cend(),
                                              [mode](int n) { return failureOf(n) == Failure(mode); });
            QVERIFY2(modeSeen, qPrintable(QStringLiteral("failure mode %1 never served").arg(mode)));
        }

        QHash<int, ResultRow> expected;
        for (const int n : std::as_const(faulty.queued))
            if (!served.failed.contains(n) && clean.rows.contains(n))
                expected.insert(n, clean.rows[n]);
        QCOMPARE(faulty.rows, expected);
    }
};

QTEST_GUILESS_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
