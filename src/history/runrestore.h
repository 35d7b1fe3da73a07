#pragma once

#include "history/historydatabase.h"
#include "query/batchscheduler.h"

class HistoryRecorder;
class ResultsModel;

// A stored run back in the objects that show and continue a batch.
namespace history {

// Adds the run's rows to the table in the order they were made.
void fillTable(ResultsModel &results, const StoredRun &run);
// Where the run stood, for BatchScheduler::resume.
BatchScheduler::Progress progressOf(const StoredRun &run);
// Continues the run (read with its queue) in the scheduler, under the limits
// it began with: its rows back in the table, emptied first, and the recorder,
// if any, writing on into it. The scheduler's own settings are what later
// batches take. False, nothing changed, while the scheduler runs a batch.
bool resume(const StoredRun &run, ResultsModel &results, BatchScheduler &scheduler,
            HistoryRecorder *recorder);

} // namespace history
