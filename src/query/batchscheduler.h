#pragma once

#include "common/marketprofile.h"
#include "query/crawlsettings.h"
#include "query/keywordfilter.h"
#include "query/keywordqueue.h"
#include "query/pageoutcome.h"
#include "query/pendingretry.h"
#include "results/resultsmodel.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class PageFetcher;

// Runs batch queries: start, dispatch tick, end check and stop. Up to
// CrawlSettings::parallel pages are fetched at once (one by default), but
// every page is parsed and committed in queue order, a page that arrives
// early waiting for the ones before it, so the queue, the rows and their
// numbers do not depend on how many fetches run. The window passes its live
// controls through the filter source and shows the texts this object emits;
// the command-line front end passes fixed values.
class BatchScheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchScheduler)

public:
    using FilterSource = std::function<KeywordFilter()>;

    BatchScheduler(ResultsModel *results, FilterSource filter, QObject *parent = nullptr);
    ~BatchScheduler() override;

    // Defaults: dispatch 1 ms, end check 10,000 ms, fetch time-out 30,000 ms,
    // body limit 64 MiB.
    void setDispatchInterval(int ms);
    void setEndCheckInterval(int ms);
    void setFetchTimeout(int ms);
    void setFetchBodyLimit(qint64 bytes);
    // The marketplace's search address and page markers; the built-in
    // profile by default. Takes effect at the next dispatch.
    void setProfile(const MarketProfile &profile);
    const MarketProfile &profile() const;
    // Parallel fetches, retries, politeness and limits; bounded to their
    // ranges. Takes effect at the next start.
    void setCrawlSettings(const CrawlSettings &settings);
    const CrawlSettings &crawlSettings() const;
    // Sent with every marketplace request; empty sends none of ours.
    void setCookie(const QByteArray &cookie);

    // The keyword box's initial text; a batch never starts from it.
    static QString keywordPrompt();

    // The batch button: refuses an empty seed or the untouched prompt (emits
    // message("请输入关键词！") and returns false), otherwise starts the batch.
    // Like the disabled button, does nothing (returns false) from a start
    // until the next stop: a second dispatch chain would put two fetches in
    // flight.
    bool start(const QByteArray &seed);
    // The stop button. Every fetch in flight is released; no page of them is
    // parsed.
    void stop();

    // Where a batch that was cut short stood: its queue in order, the line
    // the next dispatch takes, the retries waiting, the rows numbered so far,
    // its failures and its excluded candidates.
    struct Progress
    {
        QList<QByteArray> lines;
        QList<int> parents;   // one per line, KeywordQueue::NoParent for the seed
        int nextPosition = 0; // the first line without an outcome
        // Lines after nextPosition that already have one: a retried line can
        // get its outcome after later lines.
        QSet<int> handled;
        // In the order they fell due; their lines are in handled when at or
        // after nextPosition.
        QList<PendingRetry> retries;
        int rowsMade = 0;
        int failedCount = 0;
        int excludedCount = 0;
    };
    // Takes such a batch up where it stood, like start() but with the queue
    // given; the table keeps what it holds (the caller has put the batch's
    // earlier rows there). Refused like start() while a batch runs.
    bool resume(const Progress &progress);

    // The queue line the next dispatch takes (0-based).
    int nextPosition() const;
    // Rows this scheduler has numbered, over all its batches.
    int rowsMade() const;
    int queueCount() const;
    // Keywords of this batch whose page could not be fetched (after their
    // retries); reset by start.
    int failedCount() const;
    // Pages of this batch that showed none of the profile's markers.
    int unrecognisedCount() const;
    // Queue lines of this batch parsed or given up; reset by start.
    int pagesDone() const;
    // Pages done per second since the start, until the batch ends or stops.
    double pagesPerSecond() const;
    // Queued keywords not yet fetched (retries included), within the limit.
    int waitingCount() const;
    // Fetches dispatched and not yet committed.
    int inFlightCount() const;
    // Related keywords of this batch left unqueued for an exclusion word; reset by start.
    int excludedCount() const;
    bool batchButtonEnabled() const;
    const KeywordQueue &queue() const;

    // The file the seed's page is kept in when nothing on it was recognised.
    static QString unrecognisedPageFile();

Q_SIGNALS:
    void message(const QString &text);          // "请输入关键词！", "查询完成！"
    void totalTextChanged(const QString &text); // status panel 1: "总：" + count - 1
    void doneTextChanged(const QString &text);  // status panel 2: "完成：" + pagesDone
    void batchButtonEnabledChanged(bool enabled);
    void failedCountChanged(int failed);
    void unrecognisedCountChanged(int unrecognised);
    // The seed's page showed none of the markers: the marketplace may have
    // answered with a sign-in or verification page, or changed its layout.
    // text says so and where the page was kept.
    void seedPageUnrecognised(const QString &text);
    void excludedCountChanged(int excluded);
    void ended();   // the batch has drained and its end was announced
    void stopped(); // the stop button ended the batch

    // What a record of the batch needs, in the order it happens: each line as
    // it joins the queue, a page's row as it is added to the table, the
    // candidates its exclusion words kept out, then that page's outcome. A
    // page's new lines, row and excluded candidates come before its outcome.
    // A failed fetch with tries left gives no outcome but retryScheduled.
    void keywordQueued(int position, const QByteArray &keyword, int depth, int parent);
    void rowAdded(int position, const ResultRow &row, const RowDetails &details);
    void keywordsExcluded(int position, const QList<QByteArray> &candidates);
    void pageHandled(int position, PageOutcome outcome);
    void retryScheduled(const PendingRetry &retry);

private:
    class Private;

    void dispatchNext();
    void armDispatch();
    void fetch(int position, int attempt);
    void fetchEnded(PageFetcher *fetcher, const QByteArray &page, bool arrived);
    void commitReady();
    void commitPage(int position, const QByteArray &page);
    void commitFailure(int position, int attempt);
    void pageDone();
    void keepUnrecognisedSeedPage(const QByteArray &page);
    int dispatchEnd() const;
    void begin();
    void append(const QByteArray &keyword, int parent);
    void checkEnd();
    void setBatchButtonEnabled(bool enabled);

    std::unique_ptr<Private> d;
};
