#pragma once

#include "history/historydatabase.h"
#include "query/batchscheduler.h"
#include "query/pageoutcome.h"
#include "results/resultsmodel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

// Writes the batch a scheduler runs into the history as it goes. Pages are
// committed in small transactions: at most commitIntervalMs after a page was
// handled, at once when pages come slower than that, and at the batch's end.
// A page's harvested keywords and its outcome always land in the same
// transaction, so a resume finds a queue that matches the outcomes.
// A failing database stops the recording, never the batch: stopped() tells
// the user once.
class HistoryRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryRecorder)

public:
    static constexpr int commitIntervalMs = 250;

    // The options of a batch being started, read when its seed is queued (so
    // a refused seed leaves no run behind).
    using OptionsSource = std::function<history::RunOptions()>;

    HistoryRecorder(history::Database *database, BatchScheduler *scheduler, OptionsSource options,
                    QObject *parent = nullptr);
    ~HistoryRecorder() override;

    // Records what the scheduler resumes next into run id, which it continues.
    void continueRun(qint64 id);
    qint64 runId() const { return m_run; }
    bool isRecording() const { return m_run != 0; }

Q_SIGNALS:
    void stopped(const QString &message);

private:
    void keywordQueued(int position, const QByteArray &keyword, int depth, int parent);
    void rowAdded(int position, const ResultRow &row, const RowDetails &details);
    void keywordsExcluded(int position, const QList<QByteArray> &candidates);
    void pageHandled(int position, PageOutcome outcome);
    void retryScheduled(const PendingRetry &retry);
    // Commits now when the last commit is old enough, else within commitIntervalMs.
    void commitSoon();
    void end(history::RunState state);
    void commit();
    void fail(const history::HistoryError &error);

    history::Database *m_database;
    BatchScheduler *m_scheduler;
    OptionsSource m_options;
    qint64 m_run = 0;
    // The run's seed's place in the scheduler's queue: a batch started after
    // one that drained without a stop queues after that one's lines. The
    // history numbers a run's lines from its seed.
    int m_firstLine = 0;
    QList<history::Database::PageRecord> m_pending;
    QList<PendingRetry> m_pendingRetries;
    history::Database::PageRecord m_current;
    QElapsedTimer m_sinceCommit;
    QTimer m_commitTimer;
};
