#pragma once

#include "history/historydatabase.h"
#include "query/batchscheduler.h"

class ResultsModel;

// A stored run back in the objects that show and continue a batch.
namespace history {

// Adds the run's rows to the table in the order they were made.
void fillTable(ResultsModel &results, const StoredRun &run);
// Where the run stood, for BatchScheduler::resume.
BatchScheduler::Progress progressOf(const StoredRun &run);

} // namespace history
