#pragma once

class Browser;
class ResultsModel;

// The table's "visit keyword" command: opens the marketplace search page of
// the keyword at position, sorted by sales, in a normal browser window: the
// address the page fetcher requested for it, encoded alike (a '#' in a keyword
// would otherwise cut the address short). A
// position outside the table (no row selected) does nothing.
void visitKeyword(const ResultsModel &results, int position, Browser &browser);
