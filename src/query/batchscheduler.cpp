#include "query/batchscheduler.h"

#include "net/hosts.h"
#include "net/pagefetcher.h"
#include "query/pageparser.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QPointer>
#include <QTimer>

namespace {

const QByteArray searchAgent = QByteArrayLiteral("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");

} // namespace

class BatchScheduler::Private
{
public:
    Private(ResultsModel *results, FilterSource filter) : results(results), filter(std::move(filter)) {}

    ResultsModel *results;
    FilterSource filter;
    KeywordQueue queue;
    QTimer dispatchTimer;
    QTimer endCheckTimer;
    int fetchTimeoutMs = PageFetcher::DefaultFetchTimeoutMs;
    qint64 fetchBodyLimit = PageFetcher::DefaultBodyLimit;
    int nextPosition = 0;
    int rowsMade = 0;
    int failedCount = 0;
    int excludedCount = 0;
    bool batchButtonEnabled = true;
    // The one fetch in flight, if any.
    QPointer<PageFetcher> fetcher;
};

BatchScheduler::BatchScheduler(ResultsModel *results, FilterSource filter, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(results, std::move(filter)))
{
    d->dispatchTimer.setSingleShot(true);
    d->dispatchTimer.setInterval(1);
    d->endCheckTimer.setInterval(10'000);
    connect(&d->dispatchTimer, &QTimer::timeout, this, &BatchScheduler::dispatchNext);
    connect(&d->endCheckTimer, &QTimer::timeout, this, &BatchScheduler::checkEnd);
}

BatchScheduler::~BatchScheduler() = default;

void BatchScheduler::setDispatchInterval(int ms)
{
    d->dispatchTimer.setInterval(ms);
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

QString BatchScheduler::keywordPrompt()
{
    return QStringLiteral("请输入关键词");
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
    d->queue.append(seed);
    if (d->failedCount != 0) {
        d->failedCount = 0;
        Q_EMIT failedCountChanged(0);
    }
    if (d->excludedCount != 0) {
        d->excludedCount = 0;
        Q_EMIT excludedCountChanged(0);
    }
    d->dispatchTimer.start();
    d->endCheckTimer.start();
    setBatchButtonEnabled(false);
    return true;
}

void BatchScheduler::stop()
{
    d->queue.clear();
    d->nextPosition = 0;
    setBatchButtonEnabled(true);
    d->dispatchTimer.stop();
    d->endCheckTimer.stop();
    // Its page, should it still come, belongs to no batch.
    releaseFetch();
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

void BatchScheduler::dispatchNext()
{
    if (!d->queue.line(d->nextPosition).isEmpty())
        fetch(d->nextPosition);
    ++d->nextPosition;
    Q_EMIT totalTextChanged(QStringLiteral("总：") + QString::number(d->queue.count() - 1));
}

void BatchScheduler::fetch(int position)
{
    auto *fetcher = new PageFetcher(this);
    fetcher->setUserAgent(searchAgent);
    fetcher->setUrl(hosts::marketSearchUrl(d->queue.line(position)));
    fetcher->setFetchTimeout(d->fetchTimeoutMs);
    fetcher->setBodyLimit(d->fetchBodyLimit);
    connect(fetcher, &PageFetcher::finished, this,
            [this, position](const QByteArray &page) { pageArrived(position, page); });
    connect(fetcher, &PageFetcher::failed, this, &BatchScheduler::fetchFailed);
    d->fetcher = fetcher;
    fetcher->start();
}

void BatchScheduler::pageArrived(int position, const QByteArray &page)
{
    releaseFetch();
    const pageparser::Harvest harvest =
        pageparser::parse(page, d->queue.line(position), d->queue, d->filter());
    for (const QByteArray &keyword : harvest.keywords)
        d->queue.append(keyword, position);
    if (harvest.excluded > 0) {
        d->excludedCount += harvest.excluded;
        Q_EMIT excludedCountChanged(d->excludedCount);
    }
    if (harvest.row) {
        ResultRow row = *harvest.row;
        row[ResultsModel::Number] = QByteArray::number(++d->rowsMade);
        const int parent = d->queue.parent(position);
        d->results->addRow(row, {harvest.items, d->queue.depth(position),
                                 parent == KeywordQueue::NoParent ? QByteArray() : d->queue.line(parent)});
    }
    pageDone();
}

void BatchScheduler::fetchFailed()
{
    releaseFetch();
    ++d->failedCount;
    Q_EMIT failedCountChanged(d->failedCount);
    pageDone();
}

void BatchScheduler::pageDone()
{
    Q_EMIT doneTextChanged(QStringLiteral("完成：") + QString::number(d->nextPosition));
    d->dispatchTimer.start();
}

void BatchScheduler::releaseFetch()
{
    if (!d->fetcher)
        return;
    // Deleted once its completion has returned: the fetcher still runs after
    // its signal, and a long batch must not keep one object per keyword.
    d->fetcher->disconnect(this);
    d->fetcher->deleteLater();
    d->fetcher = nullptr;
}

void BatchScheduler::checkEnd()
{
    // Lines remain, or the last one dispatched is still being fetched.
    if (d->queue.count() >= d->nextPosition)
        return;
    // Disarmed before announcing: the message may be shown in a modal box
    // whose event loop would otherwise run this check again.
    d->dispatchTimer.stop();
    d->endCheckTimer.stop();
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
