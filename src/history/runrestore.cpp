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
        const qsizetype details = qsizetype(row.size());
        RowDetails rowDetails{{}, cells.value(details).toInt(), cells.value(details + 1)};
        for (qsizetype item = details + 2; item + 2 < cells.size(); item += 3)
            rowDetails.items.append({cells[item], cells[item + 1], cells[item + 2]});
        results.addRow(row, rowDetails);
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
    progress.handled = run.handled;
    progress.retries = run.retries;
    progress.rowsMade = run.rowsMade;
    progress.failedCount = run.summary.failures;
    progress.excludedCount = run.excludedCount;
    return progress;
}

bool resume(const StoredRun &run, ResultsModel &results, BatchScheduler &scheduler, HistoryRecorder *recorder)
{
    if (!scheduler.batchButtonEnabled())
        return false;
    const CrawlSettings own = scheduler.crawlSettings();
    CrawlSettings crawl = own;
    crawl.maxKeywords = run.options.maxKeywords;
    crawl.maxDepth = run.options.maxDepth;
    crawl.retries = run.options.retries;
    scheduler.setCrawlSettings(crawl);
    results.clear();
    fillTable(results, run);
    if (recorder)
        recorder->continueRun(run.summary.id);
    const bool resumed = scheduler.resume(progressOf(run));
    // The run's limits are its own: the next batch walks by the caller's settings again.
    scheduler.setCrawlSettings(own);
    return resumed;
}

} // namespace history
