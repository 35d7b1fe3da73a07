#include "history/historyrecorder.h"

#include "query/batchscheduler.h"

#include <QDateTime>

HistoryRecorder::HistoryRecorder(history::Database *database, BatchScheduler *scheduler,
                                 OptionsSource options, QObject *parent)
    : QObject(parent), m_database(database), m_scheduler(scheduler), m_options(std::move(options))
{
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(commitIntervalMs);
    connect(&m_commitTimer, &QTimer::timeout, this, &HistoryRecorder::commit);
    connect(scheduler, &BatchScheduler::keywordQueued, this, &HistoryRecorder::keywordQueued);
    connect(scheduler, &BatchScheduler::rowAdded, this, &HistoryRecorder::rowAdded);
    connect(scheduler, &BatchScheduler::keywordsExcluded, this, &HistoryRecorder::keywordsExcluded);
    connect(scheduler, &BatchScheduler::pageHandled, this, &HistoryRecorder::pageHandled);
    connect(scheduler, &BatchScheduler::retryScheduled, this, &HistoryRecorder::retryScheduled);
    connect(scheduler, &BatchScheduler::ended, this, [this] { end(history::RunState::Finished); });
    connect(scheduler, &BatchScheduler::stopped, this, [this] { end(history::RunState::Stopped); });
}

HistoryRecorder::~HistoryRecorder()
{
    // Whatever is pending is kept; the run stays "running" until its lock goes
    // with the database, and then reads as interrupted.
    if (m_run != 0)
        commit();
}

void HistoryRecorder::continueRun(qint64 id)
{
    try {
        m_database->reopenRun(id);
        m_run = id;
        m_firstLine = 0;
        m_current = {};
        m_sinceCommit.start();
    } catch (const history::HistoryError &error) {
        fail(error);
    }
}

void HistoryRecorder::keywordQueued(int position, const QByteArray &keyword, int depth, int parent)
{
    if (parent == KeywordQueue::NoParent) {
        // A seed: a new batch.
        try {
            // The rows numbered before the run, so that a resume numbers on from there.
            m_run = m_database->beginRun(m_options(), m_scheduler->rowsMade());
            m_firstLine = position;
            m_current = {};
            m_sinceCommit.start();
        } catch (const history::HistoryError &error) {
            fail(error);
        }
    }
    if (m_run == 0)
        return;
    if (m_current.queued.isEmpty())
        m_current.firstLine = position - m_firstLine;
    m_current.queued.append(
        {keyword, depth, parent == KeywordQueue::NoParent ? KeywordQueue::NoParent : parent - m_firstLine});
    // The seed goes in with its run at once: a run killed before its first page must still
    // know where to resume from.
    if (parent == KeywordQueue::NoParent)
        commit();
}

void HistoryRecorder::rowAdded(int, const ResultRow &row, const RowDetails &details)
{
    if (m_run == 0)
        return;
    m_current.cells = QList<QByteArray>(row.begin(), row.end());
    m_current.cells << QByteArray::number(details.depth) << details.parent;
    for (const ListedItem &item : details.items)
        m_current.cells << item.title << item.price << item.sales;
}

void HistoryRecorder::keywordsExcluded(int, const QList<QByteArray> &candidates)
{
    if (m_run != 0)
        m_current.excluded = candidates;
}

void HistoryRecorder::pageHandled(int position, PageOutcome outcome)
{
    if (m_run == 0)
        return;
    m_current.line = position - m_firstLine;
    m_current.outcome = outcome;
    m_current.fetchedMs = QDateTime::currentMSecsSinceEpoch();
    m_pending.append(std::exchange(m_current, {}));
    commitSoon();
}

void HistoryRecorder::retryScheduled(const PendingRetry &retry)
{
    if (m_run == 0)
        return;
    m_pendingRetries.append({retry.position - m_firstLine, retry.attempt, retry.after - m_firstLine});
    commitSoon();
}

void HistoryRecorder::commitSoon()
{
    if (m_sinceCommit.hasExpired(commitIntervalMs))
        commit();
    else if (!m_commitTimer.isActive())
        m_commitTimer.start();
}

void HistoryRecorder::end(history::RunState state)
{
    if (m_run == 0)
        return;
    commit();
    if (m_run == 0)
        return;
    try {
        m_database->endRun(m_run, state);
    } catch (const history::HistoryError &error) {
        fail(error);
    }
    m_run = 0;
}

void HistoryRecorder::commit()
{
    m_commitTimer.stop();
    // Lines queued before any page (the seed) go in on their own.
    if (!m_current.queued.isEmpty())
        m_pending.append(std::exchange(m_current, {}));
    if (m_pending.isEmpty() && m_pendingRetries.isEmpty())
        return;
    try {
        m_database->record(m_run, m_pending, m_pendingRetries);
        m_pending.clear();
        m_pendingRetries.clear();
        m_sinceCommit.start();
    } catch (const history::HistoryError &error) {
        fail(error);
    }
}

void HistoryRecorder::fail(const history::HistoryError &error)
{
    m_run = 0;
    m_pending.clear();
    m_pendingRetries.clear();
    m_current = {};
    m_commitTimer.stop();
    Q_EMIT stopped(error.message());
}
