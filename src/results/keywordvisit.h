#pragma once

class Browser;
class ResultsModel;

// The table's "visit keyword" command: opens the marketplace search page of
// the keyword at position, sorted by sales, in a normal browser window. A
// position outside the table (no row selected) does nothing.
void visitKeyword(const ResultsModel &results, int position, Browser &browser);
