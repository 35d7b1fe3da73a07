#include "history/runrestore.h"

#include "history/historyrecorder.h"
#include "results/resultsmodel.h"

namespace history {

void fillTable(ResultsModel &results, const StoredRun &run)
{
    for (const QList<QByteArray> &cells : run.rows) {
        ResultRow row;
        for (size_t column = 0; column < row.size(); ++column)
            row[column] = cells.value(qsizetype(column));
        results.addRow(row);
    }
}

BatchScheduler::Progress progressOf(const StoredRun &run)
{
    BatchScheduler::Progress progress;
    progress.lines.reserve(run.queue.size());
    progress.parents.reserve(run.queue.size());
    for (const QueuedKeyword &line : run.queue) {
        progress.lines.append(line.keyword);
        progress.parents.append(line.parent);
    }
    progress.nextPosition = run.position;
    progress.rowsMade = run.rowsMade;
    progress.failedCount = run.summary.failures;
    return progress;
}

bool resume(const StoredRun &run, ResultsModel &results, BatchScheduler &scheduler, HistoryRecorder *recorder)
{
    if (!scheduler.batchButtonEnabled())
        return false;
    results.clear();
    fillTable(results, run);
    if (recorder)
        recorder->continueRun(run.summary.id);
    return scheduler.resume(progressOf(run));
}

} // namespace history
