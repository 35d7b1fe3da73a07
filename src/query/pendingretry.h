#pragma once

// A keyword whose fetch failed, waiting for another try: it is fetched again
// once every queue line before `after` has been dispatched. The scheduler
// keeps these while a batch runs; the history stores them (in the run's own
// line numbers) so that a resumed run waits the same way.
struct PendingRetry
{
    int position = 0;
    int attempt = 1; // the try it waits for, 1 for the first retry
    int after = 0;
};
