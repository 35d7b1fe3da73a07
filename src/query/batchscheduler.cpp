#include "query/batchscheduler.h"

#include "net/hosts.h"
#include "net/tmyhttpget.h"
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
    int fetchTimeoutMs = THTTPGet::DefaultFetchTimeoutMs;
    qint64 fetchBodyLimit = THTTPGet::DefaultBodyLimit;
    int querypos = 0;
    int rowcount = 0;
    int failedCount = 0;
    bool batchButtonEnabled = true;
    // The one fetch in flight, if any.
    QPointer<Tmyhttpget> request;
};

BatchScheduler::BatchScheduler(ResultsModel *results, FilterSource filter, QObject *parent)
    : QObject(parent), d(new Private(results, std::move(filter)))
{
    d->dispatchTimer.setSingleShot(true);
    d->dispatchTimer.setInterval(1);
    d->endCheckTimer.setInterval(10'000);
    connect(&d->dispatchTimer, &QTimer::timeout, this, &BatchScheduler::dispatchNext);
    connect(&d->endCheckTimer, &QTimer::timeout, this, &BatchScheduler::checkEnd);
}

BatchScheduler::~BatchScheduler()
{
    delete d;
}

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
    d->dispatchTimer.start();
    d->endCheckTimer.start();
    setBatchButtonEnabled(false);
    return true;
}

void BatchScheduler::stop()
{
    d->queue.clear();
    d->querypos = 0;
    setBatchButtonEnabled(true);
    d->dispatchTimer.stop();
    d->endCheckTimer.stop();
    // Its page, should it still come, belongs to no batch.
    if (d->request)
        release(d->request);
}

int BatchScheduler::querypos() const
{
    return d->querypos;
}

int BatchScheduler::rowcount() const
{
    return d->rowcount;
}

int BatchScheduler::queueCount() const
{
    return d->queue.count();
}

int BatchScheduler::failedCount() const
{
    return d->failedCount;
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
    const QByteArray keyword = d->queue.line(d->querypos);
    if (!keyword.isEmpty())
        fetch(keyword);
    ++d->querypos;
    Q_EMIT totalTextChanged(QStringLiteral("总：") + QString::number(d->queue.count() - 1));
}

void BatchScheduler::fetch(const QByteArray &keyword)
{
    auto *request = new Tmyhttpget(this);
    request->setBinaryData(false);
    request->setUseCache(false);
    request->setAgent(searchAgent);
    request->setUrl(hosts::marketSearchUrl(keyword));
    request->setFetchTimeout(d->fetchTimeoutMs);
    request->setBodyLimit(d->fetchBodyLimit);
    request->keyword = keyword;
    connect(request, &THTTPGet::doneString, this,
            [this, request](THTTPGet *, const QByteArray &page) { pageArrived(request, page); });
    connect(request, &THTTPGet::error, this, [this, request] { fetchFailed(request); });
    d->request = request;
    request->StartFetch();
}

void BatchScheduler::pageArrived(Tmyhttpget *request, const QByteArray &page)
{
    release(request);
    const pageparser::Harvest harvest = pageparser::parse(page, request->keyword, d->queue, d->filter());
    for (const QByteArray &keyword : harvest.keywords)
        d->queue.append(keyword);
    if (harvest.row) {
        ResultRow row = *harvest.row;
        row[ResultsModel::Number] = QByteArray::number(++d->rowcount);
        d->results->addRow(row);
    }
    pageDone();
}

void BatchScheduler::fetchFailed(Tmyhttpget *request)
{
    release(request);
    ++d->failedCount;
    Q_EMIT failedCountChanged(d->failedCount);
    pageDone();
}

void BatchScheduler::pageDone()
{
    Q_EMIT doneTextChanged(QStringLiteral("完成：") + QString::number(d->querypos));
    d->dispatchTimer.start();
}

void BatchScheduler::release(Tmyhttpget *request)
{
    // Deleted once its completion has returned: the fetcher still runs after
    // its signal, and a long batch must not keep one object per keyword.
    request->disconnect(this);
    request->deleteLater();
    d->request = nullptr;
}

void BatchScheduler::checkEnd()
{
    // Lines remain, or the last one dispatched is still being fetched.
    if (d->queue.count() >= d->querypos)
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
