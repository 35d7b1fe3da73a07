#include "batchcontents.h"
#include "history/historydatabase.h"
#include "history/historyrecorder.h"
#include "history/runrestore.h"
#include "keywordgraph.h"
#include "query/batchscheduler.h"
#include "rawhttpserver.h"
#include "results/resultsmodel.h"
#include "searchrequest.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <memory>

using testsupport::RawHttpServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedResponse;
using testsupport::searchedKeyword;
using testsupport::searchedKeywords;
using ByteList = QList<QByteArray>;

namespace {

constexpr int waitMs = 20'000;
const QString seed = QStringLiteral("连衣裙");

// The simulator's keyword graph, with one keyword whose first `failures`
// requests are answered with an empty page.
void serveGraph(RawHttpServer &server, int graphSize, const QString &failing = {}, int failures = 0)
{
    auto refused = std::make_shared<std::atomic_int>(0);
    server.setHandler(
        [graph = sim::KeywordGraph(graphSize), failing, failures, refused](const RecordedRequest &request) {
            const QString keyword = searchedKeyword(request);
            if (keyword == failing && refused->fetch_add(1) < failures)
                return ScriptedResponse::ok({});
            return ScriptedResponse::ok(sim::renderResultPage(graph.page(keyword), sim::PageEncoding::Gbk));
        });
    qputenv("QUILLMARSH_MARKET_HOST", server.hostAndPort());
}

// A batch as the command line runs one: a scheduler over a table, the
// keyword filter fixed, and, given a history file, its recorder.
struct Batch
{
    explicit Batch(const KeywordFilter &filter, const QString &historyFile = {}) : filter(filter)
    {
        scheduler.setEndCheckInterval(50);
        if (historyFile.isEmpty())
            return;
        database = std::make_unique<history::Database>(historyFile);
        recorder = std::make_unique<HistoryRecorder>(database.get(), &scheduler, [this] {
            const CrawlSettings &crawl = scheduler.crawlSettings();
            return history::RunOptions{text::toGbk(seed),
                                       this->filter.boxText,
                                       this->filter.mustContain,
                                       this->filter.excludedWords,
                                       "demo",
                                       crawl.maxKeywords,
                                       crawl.maxDepth,
                                       crawl.retries};
        });
    }

    bool run(const CrawlSettings &settings)
    {
        scheduler.setCrawlSettings(settings);
        QSignalSpy ended(&scheduler, &BatchScheduler::ended);
        return scheduler.start(text::toGbk(seed)) && ended.wait(waitMs);
    }
    // Runs until cut() says so in the middle of a page's commit, then leaves
    // the batch as a killed process would: nothing more is fetched and the
    // run is never ended.
    bool runUntil(const CrawlSettings &settings, const std::function<bool()> &cut)
    {
        QEventLoop loop;
        bool reached = false;
        const auto check = [&] {
            if (!reached && cut()) {
                reached = true;
                loop.quit();
            }
        };
        const QMetaObject::Connection connections[] = {
            QObject::connect(&scheduler, &BatchScheduler::pageHandled, &loop, check),
            QObject::connect(&scheduler, &BatchScheduler::retryScheduled, &loop, check),
            QObject::connect(&scheduler, &BatchScheduler::ended, &loop, &QEventLoop::quit)};
        scheduler.setCrawlSettings(settings);
        if (!scheduler.start(text::toGbk(seed)))
            return false;
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec();
        for (const QMetaObject::Connection &connection : connections)
            QObject::disconnect(connection);
        // Destroyed in the order a dying process drops them, the last pages committed.
        recorder.reset();
        database.reset();
        return reached;
    }
    // Continues the file's only run in this batch.
    bool resume(const QString &historyFile)
    {
        database = std::make_unique<history::Database>(historyFile);
        recorder = std::make_unique<HistoryRecorder>(database.get(), &scheduler,
                                                     [] { return history::RunOptions{}; });
        const QList<history::RunSummary> runs = database->runs();
        if (runs.size() != 1 || runs.first().state != history::RunState::Interrupted)
            return false;
        const std::optional<history::StoredRun> stored = database->run(runs.first().id);
        QSignalSpy ended(&scheduler, &BatchScheduler::ended);
        return stored && history::resume(*stored, results, scheduler, recorder.get()) && ended.wait(waitMs);
    }

    QList<ByteList> rows() const { return testsupport::tableRows(results); }
    ByteList queued() const { return testsupport::queueLines(scheduler.queue()); }

    KeywordFilter filter;
    ResultsModel results;
    BatchScheduler scheduler{&results, [this] { return filter; }};
    std::unique_ptr<history::Database> database;
    std::unique_ptr<HistoryRecorder> recorder;
};

// Texts as the history file packs them: each one's length (4 bytes,
// little-endian), then its bytes.
QByteArray packed(const ByteList &texts)
{
    QByteArray bytes;
    for (const QByteArray &text : texts) {
        const quint32 length = qToLittleEndian(quint32(text.size()));
        bytes.append(reinterpret_cast<const char *>(&length), sizeof length).append(text);
    }
    return bytes;
}

ByteList unpacked(const QByteArray &bytes)
{
    ByteList texts;
    for (qsizetype at = 0; at + 4 <= bytes.size();) {
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + at);
        texts.append(bytes.mid(at + 4, length));
        at += 4 + length;
    }
    return texts;
}

// The file through a connection of the test's own.
QList<ByteList> excludedPerPage(const QString &historyFile)
{
    QList<ByteList> pages;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspector"));
        db.setDatabaseName(historyFile);
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("SELECT excluded FROM pages WHERE excluded IS NOT NULL "
                                                   "ORDER BY line"))) {
            while (query.next()) {
                pages.append(unpacked(query.value(0).toByteArray()));
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspector"));
    return pages;
}

} // namespace

// A recorded batch cut short and continued ends with the table, the queue
// and the counts an uninterrupted batch has, also when the cut comes while
// a failed keyword waits for its retry, and with the limits and exclusion
// words the run began with.
class TestHistoryRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutWhileARetryWaits_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("failedCount");
        QTest::newRow("the retry succeeds") << 1 << 2 << 0;
        QTest::newRow("the second try fails, the third succeeds") << 2 << 2 << 0;
        QTest::newRow("the last try fails") << 100 << 1 << 1;
    }
    void cutWhileARetryWaits()
    {
        QFETCH(int, failures);
        QFETCH(int, retries);
        QFETCH(int, failedCount);
        const KeywordFilter filter{text::toGbk(seed), true};
        CrawlSettings settings;
        settings.retries = retries;

        RawHttpServer plain;
        serveGraph(plain, 40);
        Batch clean(filter);
        QVERIFY(clean.run({}));
        // A keyword of the second level, so that lines are queued behind it when it fails.
        const QString failing = text::fromGbk(clean.queued().value(3));

        RawHttpServer referenceServer;
        serveGraph(referenceServer, 40, failing, failures);
        Batch reference(filter);
        QVERIFY(reference.run(settings));
        QCOMPARE(reference.scheduler.failedCount(), failedCount);

        RawHttpServer server;
        serveGraph(server, 40, failing, failures);
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("history.sqlite"));
        {
            Batch cut(filter, file);
            QVERIFY(cut.runUntil(settings, [&] {
                return searchedKeywords(server).count(failing) == 1 && cut.scheduler.inFlightCount() == 0;
            }));
        }
        const int askedBeforeTheCut = server.requestCount();
        Batch resumed(filter);
        QVERIFY(resumed.resume(file));

        QCOMPARE(resumed.rows(), reference.rows());
        QCOMPARE(resumed.queued(), reference.queued());
        QCOMPARE(resumed.scheduler.failedCount(), failedCount);
        // Asked in the same order, the retry with the budget it had left.
        QCOMPARE(searchedKeywords(server), searchedKeywords(referenceServer));
        QVERIFY(server.requestCount() > askedBeforeTheCut + 1);
        QCOMPARE(resumed.database->runs().first().state, history::RunState::Finished);
    }

    void limitsAndExclusionsOutliveTheCut()
    {
        // Candidates holding the second suffix word are kept out, the walk stops at 25 lines and two levels.
        const QByteArray word = text::toGbk(sim::KeywordGraph::suffixWords().value(1));
        const KeywordFilter filter{text::toGbk(seed), true, {word}};
        CrawlSettings settings;
        settings.maxKeywords = 25;
        settings.maxDepth = 2;

        RawHttpServer server;
        serveGraph(server, 200);
        QTemporaryDir folder;
        Batch reference(filter, folder.filePath(QStringLiteral("whole.sqlite")));
        QSignalSpy excluded(&reference.scheduler, &BatchScheduler::keywordsExcluded);
        QVERIFY(reference.run(settings));
        QVERIFY(reference.scheduler.excludedCount() > 0);
        QCOMPARE(reference.scheduler.pagesDone(), 25);

        const QString file = folder.filePath(QStringLiteral("history.sqlite"));
        {
            Batch cut(filter, file);
            int pages = 0;
            QVERIFY(cut.runUntil(settings, [&] { return ++pages == 6; }));
        }
        // Continued by a batch with none of those settings of its own.
        Batch resumed(filter);
        QVERIFY(resumed.resume(file));
        QCOMPARE(resumed.rows(), reference.rows());
        QCOMPARE(resumed.queued(), reference.queued());
        QCOMPARE(resumed.scheduler.excludedCount(), reference.scheduler.excludedCount());

        // Each page's kept-out candidates are in its record, before and after the cut.
        QList<ByteList> emitted;
        for (const QList<QVariant> &arguments : excluded)
            emitted.append(arguments.at(1).value<ByteList>());
        QCOMPARE(excludedPerPage(file), emitted);
        for (const ByteList &candidates : emitted)
            for (const QByteArray &candidate : candidates)
                QVERIFY(text::foldCase(candidate).contains(word));

        // Those limits were the run's alone: the next batch walks by the scheduler's own settings.
        resumed.scheduler.stop();
        QSignalSpy nextEnded(&resumed.scheduler, &BatchScheduler::ended);
        QVERIFY(resumed.scheduler.start(text::toGbk(seed)));
        QVERIFY(nextEnded.wait(waitMs));
        QVERIFY2(resumed.scheduler.pagesDone() > 25,
                 qPrintable(QString::number(resumed.scheduler.pagesDone())));
    }

    // A file the previous schema wrote opens upgraded, its runs intact and
    // one cut short still continued.
    void olderFileIsUpgraded()
    {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("history.sqlite"));
        RawHttpServer server;
        serveGraph(server, 30);
        Batch reference(KeywordFilter{text::toGbk(seed), true});
        QVERIFY(reference.run({}));
        {
            // Version 2: the seed's page done, its eight children queued.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery query(db);
            for (const char *statement :
                 {"CREATE TABLE runs (id INTEGER PRIMARY KEY, seed BLOB NOT NULL, filter_text BLOB NOT NULL,"
                  " must_contain INTEGER NOT NULL, excluded_words BLOB NOT NULL, user BLOB NOT NULL,"
                  " started INTEGER NOT NULL, ended INTEGER, state TEXT NOT NULL,"
                  " rows_made_before INTEGER NOT NULL, queued INTEGER NOT NULL DEFAULT 0,"
                  " pages INTEGER NOT NULL DEFAULT 0, rows INTEGER NOT NULL DEFAULT 0,"
                  " failures INTEGER NOT NULL DEFAULT 0, max_keywords INTEGER NOT NULL DEFAULT 0,"
                  " max_depth INTEGER NOT NULL DEFAULT -1, retries INTEGER NOT NULL DEFAULT 0)",
                  "CREATE TABLE queue (run INTEGER NOT NULL, line INTEGER NOT NULL, keyword BLOB NOT NULL,"
                  " depth INTEGER NOT NULL, parent INTEGER NOT NULL, PRIMARY KEY (run, line)) WITHOUT ROWID",
                  "CREATE TABLE pages (run INTEGER NOT NULL, line INTEGER NOT NULL, outcome INTEGER NOT NULL,"
                  " fetched INTEGER NOT NULL, cells BLOB, PRIMARY KEY (run, line)) WITHOUT ROWID",
                  "PRAGMA user_version=2"})
                QVERIFY2(query.exec(QString::fromLatin1(statement)), qPrintable(query.lastError().text()));
            QVERIFY(query.prepare(QStringLiteral(
                "INSERT INTO runs (seed, filter_text, must_contain, excluded_words, user, started, state,"
                " rows_made_before, queued, pages, rows) VALUES (?, ?, 1, x'', 'demo', 0, 'running', 0, 9, "
                "1, 1)")));
            query.addBindValue(text::toGbk(seed));
            query.addBindValue(text::toGbk(seed));
            QVERIFY(query.exec());
            for (int line = 0; line < 9; ++line) {
                QVERIFY(query.prepare(QStringLiteral("INSERT INTO queue VALUES (1, ?, ?, ?, ?)")));
                query.addBindValue(line);
                query.addBindValue(reference.queued().value(line));
                query.addBindValue(line == 0 ? 0 : 1);
                query.addBindValue(line == 0 ? -1 : 0);
                QVERIFY(query.exec());
            }
            QVERIFY(query.prepare(QStringLiteral("INSERT INTO pages VALUES (1, 0, 1, 0, ?)")));
            query.addBindValue(packed(reference.rows().value(0) + ByteList{"0", ""}));
            QVERIFY(query.exec());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));

        Batch resumed(KeywordFilter{text::toGbk(seed), true});
        QVERIFY(resumed.resume(file));
        QCOMPARE(resumed.rows(), reference.rows());
        QCOMPARE(resumed.queued(), reference.queued());
        // Asked for everything but the seed.
        QCOMPARE(server.requestCount(), 2 * reference.scheduler.pagesDone() - 1);
        resumed.recorder.reset();
        resumed.database.reset();
        history::Database reopened(file);
        QCOMPARE(reopened.run(1)->rows.size(), reference.rows().size());
    }
};

QTEST_GUILESS_MAIN(TestHistoryRecorder)
#include "tst_historyrecorder.moc"
