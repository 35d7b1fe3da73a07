#include "results/keywordvisit.h"

#include "common/browser.h"
#include "common/marketprofile.h"
#include "net/pagefetcher.h"
#include "results/resultsmodel.h"

void visitKeyword(const ResultsModel &results, int position, const MarketProfile &profile, Browser &browser)
{
    if (position < 0 || position >= results.rowCount())
        return;
    browser.open(PageFetcher::wireAddress(
                     profile.searchUrlFor(results.cell(position, ResultsModel::Keyword).toByteArray())),
                 Browser::Show::Normal);
}
