#include "query/batchscheduler.h"

#include "common/datafolder.h"
#include "net/pagefetcher.h"
#include "query/pageparser.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>
#include <deque>
#include <vector>

namespace {

const QByteArray searchAgent = QByteArrayLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");

// Qt's HTTP layer opens at most this many connections to one host per manager.
constexpr int connectionsPerManager = 6;

bool asksToWait(int status)
{
    return status == 429 || status == 503;
}

} // namespace

class BatchScheduler::Private
{
public:
    Private(ResultsModel *results, FilterSource filter) : results(results), filter(std::move(filter)) {}

    // One keyword between its dispatch and its commit.
    struct Dispatch
    {
        int position;
        int attempt; // 0 for the first fetch of the line
        int manager;
        QPointer<PageFetcher> fetcher; // null once the fetch has ended
        bool arrived = false;
        QByteArray page; // when arrived
    };
    int runningOn(int manager) const
    {
        return int(std::count_if(inFlight.begin(), inFlight.end(),
                                 [manager](const Dispatch &d) { return d.fetcher && d.manager == manager; }));
    }

    ResultsModel *results;
    FilterSource filter;
    KeywordQueue queue;
    QTimer dispatchTimer;
    int dispatchIntervalMs = 1;
    QTimer endCheckTimer;
    int fetchTimeoutMs = PageFetcher::DefaultFetchTimeoutMs;
    qint64 fetchBodyLimit = PageFetcher::DefaultBodyLimit;
    MarketProfile profile = MarketProfile::builtIn();
    CrawlSettings nextSettings; // taken by the next start
    CrawlSettings settings;     // of the running batch
    QByteArray cookie;
    int nextPosition = 0;
    QSet<int> handled; // lines from nextPosition on that a resumed batch skips
    int rowsMade = 0;
    int failedCount = 0;
    int unrecognisedCount = 0;
    int pagesDone = 0;
    int excludedCount = 0;
    bool batchButtonEnabled = true;
    std::deque<Dispatch> inFlight;    // in dispatch order, which is commit order
    std::deque<PendingRetry> retries; // in the order they fell due, so by after
    // Index 0 stands for the thread's shared manager; more are made for more
    // than six fetches at once.
    std::vector<std::unique_ptr<QNetworkAccessManager>> extraManagers;
    QElapsedTimer clock;      // since the start of the batch
    qint64 ranForMs = -1;     // the batch's length once it ended or stopped
    qint64 nextRequestAt = 0; // on the monotonic clock, in ms
};

BatchScheduler::BatchScheduler(ResultsModel *results, FilterSource filter, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(results, std::move(filter)))
{
    d->dispatchTimer.setSingleShot(true);
    d->endCheckTimer.setInterval(10'000);
    connect(&d->dispatchTimer, &QTimer::timeout, this, &BatchScheduler::dispatchNext);
    connect(&d->endCheckTimer, &QTimer::timeout, this, &BatchScheduler::checkEnd);
}

BatchScheduler::~BatchScheduler() = default;

void BatchScheduler::setDispatchInterval(int ms)
{
    d->dispatchIntervalMs = ms;
}

void BatchScheduler::setEndCheckInterval(int ms)
{
    d->endCheckTimer.setInterval(ms);
}

void BatchScheduler::setFetchTimeout(int ms)
{
    d->fetchTimeoutMs = ms;
}

void BatchScheduler::setFetchBodyLimit(qint64 bytes)
{
    d->fetchBodyLimit = bytes;
}

void BatchScheduler::setProfile(const MarketProfile &profile)
{
    d->profile = profile;
}

const MarketProfile &BatchScheduler::profile() const
{
    return d->profile;
}

void BatchScheduler::setCrawlSettings(const CrawlSettings &settings)
{
    d->nextSettings = settings.bounded();
}

const CrawlSettings &BatchScheduler::crawlSettings() const
{
    return d->nextSettings;
}

void BatchScheduler::setCookie(const QByteArray &cookie)
{
    d->cookie = cookie;
}

QString BatchScheduler::keywordPrompt()
{
    return QStringLiteral("请输入关键词");
}

QString BatchScheduler::unrecognisedPageFile()
{
    return datafolder::filePath(QStringLiteral("unrecognised-page.html"));
}

bool BatchScheduler::start(const QByteArray &seed)
{
    if (!d->batchButtonEnabled)
        return false;
    static const QByteArray prompt = text::toGbk(keywordPrompt());
    if (seed.isEmpty() || seed == prompt) {
        Q_EMIT message(QStringLiteral("请输入关键词！"));
        return false;
    }
    d->results->clear();
    append(seed, KeywordQueue::NoParent);
    if (d->failedCount != 0) {
        d->failedCount = 0;
        Q_EMIT failedCountChanged(0);
    }
    begin();
    return true;
}

bool BatchScheduler::resume(const Progress &progress)
{
    if (!d->batchButtonEnabled)
        return false;
    d->queue.clear();
    for (qsizetype i = 0; i < progress.lines.size(); ++i)
        d->queue.append(progress.lines[i], progress.parents.value(i, KeywordQueue::NoParent));
    d->nextPosition = progress.nextPosition;
    d->handled = progress.handled;
    d->rowsMade = progress.rowsMade;
    d->failedCount = progress.failedCount;
    Q_EMIT failedCountChanged(d->failedCount);
    begin();
    d->retries.assign(progress.retries.begin(), progress.retries.end());
    d->excludedCount = progress.excludedCount;
    Q_EMIT excludedCountChanged(d->excludedCount);
    return true;
}

// What start and resume share: the running batch's settings, fresh counters
// and clock, nothing in flight, and the dispatch armed.
void BatchScheduler::begin()
{
    d->settings = d->nextSettings;
    const int managers = (d->settings.parallel + connectionsPerManager - 1) / connectionsPerManager;
    d->extraManagers.resize(managers - 1);
    for (auto &manager : d->extraManagers)
        if (!manager)
            manager = std::make_unique<QNetworkAccessManager>();
    d->inFlight.clear();
    d->retries.clear();
    d->pagesDone = 0;
    if (d->unrecognisedCount != 0) {
        d->unrecognisedCount = 0;
        Q_EMIT unrecognisedCountChanged(0);
    }
    if (d->excludedCount != 0) {
        d->excludedCount = 0;
        Q_EMIT excludedCountChanged(0);
    }
    d->clock.start();
    d->ranForMs = -1;
    d->nextRequestAt = 0;
    armDispatch();
    d->endCheckTimer.start();
    setBatchButtonEnabled(false);
}

void BatchScheduler::append(const QByteArray &keyword, int parent)
{
    d->queue.append(keyword, parent);
    const int position = d->queue.count() - 1;
    Q_EMIT keywordQueued(position, keyword, d->queue.depth(position), parent);
}

void BatchScheduler::stop()
{
    d->queue.clear();
    d->nextPosition = 0;
    d->handled.clear();
    setBatchButtonEnabled(true);
    d->dispatchTimer.stop();
    d->endCheckTimer.stop();
    // Their pages, should they still come, belong to no batch.
    for (Private::Dispatch &dispatch : d->inFlight)
        if (dispatch.fetcher)
            dispatch.fetcher->deleteLater(); // its destructor aborts the transfer
    d->inFlight.clear();
    d->retries.clear();
    if (d->clock.isValid() && d->ranForMs < 0)
        d->ranForMs = d->clock.elapsed();
    Q_EMIT stopped();
}

int BatchScheduler::nextPosition() const
{
    return d->nextPosition;
}

int BatchScheduler::rowsMade() const
{
    return d->rowsMade;
}

int BatchScheduler::queueCount() const
{
    return d->queue.count();
}

int BatchScheduler::failedCount() const
{
    return d->failedCount;
}

int BatchScheduler::unrecognisedCount() const
{
    return d->unrecognisedCount;
}

int BatchScheduler::pagesDone() const
{
    return d->pagesDone;
}

double BatchScheduler::pagesPerSecond() const
{
    if (!d->clock.isValid())
        return 0;
    const qint64 ms = d->ranForMs >= 0 ? d->ranForMs : d->clock.elapsed();
    return ms > 0 ? d->pagesDone * 1000.0 / ms : 0;
}

int BatchScheduler::waitingCount() const
{
    return qMax(0, dispatchEnd() - d->nextPosition) + int(d->retries.size());
}

int BatchScheduler::inFlightCount() const
{
    return int(d->inFlight.size());
}

int BatchScheduler::excludedCount() const
{
    return d->excludedCount;
}

bool BatchScheduler::batchButtonEnabled() const
{
    return d->batchButtonEnabled;
}

const KeywordQueue &BatchScheduler::queue() const
{
    return d->queue;
}

int BatchScheduler::dispatchEnd() const
{
    const int lines = d->queue.count();
    return d->settings.maxKeywords > 0 ? qMin(lines, d->settings.maxKeywords) : lines;
}

void BatchScheduler::armDispatch()
{
    d->dispatchTimer.start(d->dispatchIntervalMs);
}

// Starts fetches until parallel keywords are between dispatch and commit.
// A retry that has fallen due goes before the next queue line. With nothing
// to fetch and nothing in flight the tick passes the queue's end, which the
// end check then sees; with fetches in flight their pages may still queue
// more, and their commit dispatches again.
void BatchScheduler::dispatchNext()
{
    while (int(d->inFlight.size()) < d->settings.parallel) {
        const bool retryDue = !d->retries.empty() && d->retries.front().after <= d->nextPosition;
        if (!retryDue && d->nextPosition >= dispatchEnd()) {
            if (d->inFlight.empty()) {
                ++d->nextPosition;
                Q_EMIT totalTextChanged(QStringLiteral("总：") + QString::number(d->queue.count() - 1));
            }
            return;
        }
        if (const qint64 wait = d->nextRequestAt - d->clock.elapsed(); d->nextRequestAt > 0 && wait > 0) {
            d->dispatchTimer.start(int(wait));
            return;
        }
        if (retryDue) {
            const PendingRetry retry = d->retries.front();
            d->retries.pop_front();
            fetch(retry.position, retry.attempt);
        } else {
            if (!d->handled.remove(d->nextPosition))
                fetch(d->nextPosition, 0);
            ++d->nextPosition;
            Q_EMIT totalTextChanged(QStringLiteral("总：") + QString::number(d->queue.count() - 1));
        }
    }
}

void BatchScheduler::fetch(int position, int attempt)
{
    // The manager with the fewest fetches running.
    int manager = 0;
    for (int i = 1; i <= int(d->extraManagers.size()); ++i)
        if (d->runningOn(i) < d->runningOn(manager))
            manager = i;

    auto *fetcher = new PageFetcher(this);
    fetcher->setUserAgent(searchAgent);
    fetcher->setUrl(d->profile.searchUrlFor(d->queue.line(position)));
    fetcher->setFetchTimeout(d->fetchTimeoutMs);
    fetcher->setBodyLimit(d->fetchBodyLimit);
    fetcher->setCookie(d->cookie);
    if (manager > 0)
        fetcher->setNetworkAccessManager(d->extraManagers[manager - 1].get());
    connect(fetcher, &PageFetcher::finished, this,
            [this, fetcher](const QByteArray &page) { fetchEnded(fetcher, page, true); });
    connect(fetcher, &PageFetcher::failed, this, [this, fetcher] { fetchEnded(fetcher, {}, false); });
    d->inFlight.push_back({position, attempt, manager, fetcher, false, {}});
    fetcher->start();

    const CrawlSettings &settings = d->settings;
    if (settings.delayMs > 0 || settings.jitterMs > 0) {
        const int jitter =
            settings.jitterMs > 0 ? int(QRandomGenerator::global()->bounded(settings.jitterMs + 1)) : 0;
        d->nextRequestAt = qMax(d->nextRequestAt, d->clock.elapsed() + settings.delayMs + jitter);
    }
}

void BatchScheduler::fetchEnded(PageFetcher *fetcher, const QByteArray &page, bool arrived)
{
    const auto dispatch =
        std::find_if(d->inFlight.begin(), d->inFlight.end(),
                     [fetcher](const Private::Dispatch &d) { return d.fetcher == fetcher; });
    // Deleted once its completion has returned: the fetcher still runs after
    // its signal, and a long batch must not keep one object per keyword.
    fetcher->disconnect(this);
    fetcher->deleteLater();
    if (dispatch == d->inFlight.end())
        return;
    dispatch->fetcher = nullptr;
    if (d->settings.retries > 0 && asksToWait(fetcher->statusCode())) {
        // Counted as failed so that it is tried again, after the wait asked for.
        arrived = false;
        bool isNumber = false;
        const int seconds = fetcher->retryAfter().trimmed().toInt(&isNumber);
        if (isNumber && seconds > 0)
            d->nextRequestAt =
                qMax(d->nextRequestAt,
                     d->clock.elapsed() + 1000 * qMin(seconds, CrawlSettings::MaxRetryAfterSeconds));
    }
    dispatch->arrived = arrived;
    if (arrived)
        dispatch->page = page;
    commitReady();
}

// Commits the ended fetches at the front, in dispatch order.
void BatchScheduler::commitReady()
{
    while (!d->inFlight.empty() && !d->inFlight.front().fetcher) {
        const Private::Dispatch done = std::move(d->inFlight.front());
        d->inFlight.pop_front();
        if (done.arrived)
            commitPage(done.position, done.page);
        else
            commitFailure(done.position, done.attempt);
    }
}

void BatchScheduler::commitPage(int position, const QByteArray &page)
{
    const pageparser::Harvest harvest =
        pageparser::parse(page, d->queue.line(position), d->queue, d->filter(), d->profile);
    const int maxDepth = d->settings.maxDepth;
    if (maxDepth < 0 || d->queue.depth(position) < maxDepth)
        for (const QByteArray &keyword : harvest.keywords)
            append(keyword, position);
    if (!harvest.excluded.isEmpty()) {
        d->excludedCount += int(harvest.excluded.size());
        Q_EMIT excludedCountChanged(d->excludedCount);
        Q_EMIT keywordsExcluded(position, harvest.excluded);
    }
    if (harvest.row) {
        ResultRow row = *harvest.row;
        row[ResultsModel::Number] = QByteArray::number(++d->rowsMade);
        const int parent = d->queue.parent(position);
        const RowDetails details{harvest.items, d->queue.depth(position),
                                 parent == KeywordQueue::NoParent ? QByteArray() : d->queue.line(parent)};
        d->results->addRow(row, details);
        Q_EMIT rowAdded(position, row, details);
    }
    if (!harvest.recognised) {
        ++d->unrecognisedCount;
        Q_EMIT unrecognisedCountChanged(d->unrecognisedCount);
        if (position == 0)
            keepUnrecognisedSeedPage(page);
    }
    ++d->pagesDone;
    Q_EMIT pageHandled(position, harvest.row ? PageOutcome::Row : PageOutcome::NoRow);
    pageDone();
}

void BatchScheduler::commitFailure(int position, int attempt)
{
    if (attempt < d->settings.retries) {
        d->retries.push_back({position, attempt + 1, dispatchEnd()});
        Q_EMIT retryScheduled(d->retries.back());
    } else {
        ++d->failedCount;
        Q_EMIT failedCountChanged(d->failedCount);
        ++d->pagesDone;
        Q_EMIT pageHandled(position, PageOutcome::Failed);
    }
    pageDone();
}

void BatchScheduler::pageDone()
{
    Q_EMIT doneTextChanged(QStringLiteral("完成：") + QString::number(d->pagesDone));
    armDispatch();
}

void BatchScheduler::keepUnrecognisedSeedPage(const QByteArray &page)
{
    QSaveFile file(unrecognisedPageFile());
    const bool kept = !datafolder::path().isEmpty() && file.open(QIODevice::WriteOnly) &&
                      file.write(page) == page.size() && file.commit();
    QString text = QStringLiteral("无法识别首个页面：市场可能返回了登录或验证页面，或者页面版式已改变。");
    if (kept)
        text += QStringLiteral("页面已保存在 %1").arg(file.fileName());
    // From the event loop: the window shows it in a modal box, whose event
    // loop must not run inside a commit (a stop there would be undone by the
    // rest of it).
    QMetaObject::invokeMethod(
        this, [this, text] { Q_EMIT seedPageUnrecognised(text); }, Qt::QueuedConnection);
}

void BatchScheduler::checkEnd()
{
    // Lines remain, or the last one dispatched is still being fetched.
    if (dispatchEnd() >= d->nextPosition)
        return;
    // Disarmed before announcing: the message may be shown in a modal box
    // whose event loop would otherwise run this check again.
    d->dispatchTimer.stop();
    d->endCheckTimer.stop();
    d->ranForMs = d->clock.elapsed();
    Q_EMIT message(QStringLiteral("查询完成！"));
    Q_EMIT ended();
}

void BatchScheduler::setBatchButtonEnabled(bool enabled)
{
    if (d->batchButtonEnabled == enabled)
        return;
    d->batchButtonEnabled = enabled;
    Q_EMIT batchButtonEnabledChanged(enabled);
}
