#pragma once

// What one dispatched keyword's page gave the batch.
enum class PageOutcome
{
    Row = 1,    // a result row
    NoRow = 2,  // a page whose figures did not pass, so no row
    Failed = 3, // no page: the fetch failed
};
