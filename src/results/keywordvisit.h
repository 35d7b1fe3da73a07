#pragma once

class Browser;
struct MarketProfile;
class ResultsModel;

// The table's "visit keyword" command: opens the profile's search page of
// the keyword at position in a normal browser window. A position outside the
// table (no row selected) does nothing.
void visitKeyword(const ResultsModel &results, int position, const MarketProfile &profile, Browser &browser);
