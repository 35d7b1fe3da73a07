#pragma once

class Browser;
struct MarketProfile;
class ResultsModel;

// The table's "visit keyword" command: opens the profile's search page of
// the keyword at position in a normal browser window. The address is the one
// the page fetcher requested for that keyword, encoded alike, so a '#' or '%'
// in a keyword opens the page that was fetched. A position outside the table
// (no row selected) does nothing.
void visitKeyword(const ResultsModel &results, int position, const MarketProfile &profile, Browser &browser);
