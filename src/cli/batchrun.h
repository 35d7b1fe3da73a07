#pragma once

#include "query/batchscheduler.h"
#include "query/keywordfilter.h"

#include <QObject>
#include <QTimer>

class ResultsModel;

// One batch on the command line: the query window's scheduler with a fixed
// filter, reporting progress on standard error (one updating line on a
// terminal, a line a second otherwise) and its messages as lines.
class BatchRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRun)

public:
    BatchRun(ResultsModel *results, const KeywordFilter &filter, QObject *parent = nullptr);

    BatchScheduler &scheduler() { return m_scheduler; }

    // The batch button; false when the seed is refused (its message printed).
    bool start(const QByteArray &seed);
    // The stop button; the rows gathered stay.
    void stop();

Q_SIGNALS:
    // The batch has drained, or was stopped.
    void finished();

private:
    void finish();
    void printMessage(const QString &text);
    void showProgress();
    QString progressText() const;

    ResultsModel *m_results;
    BatchScheduler m_scheduler;
    QTimer m_progressTimer;
    bool m_terminal;
    bool m_finished = false;
};
