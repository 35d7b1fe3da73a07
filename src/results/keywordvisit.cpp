#include "results/keywordvisit.h"

#include "common/browser.h"
#include "net/hosts.h"
#include "net/pagefetcher.h"
#include "results/resultsmodel.h"

void visitKeyword(const ResultsModel &results, int position, Browser &browser)
{
    if (position < 0 || position >= results.rowCount())
        return;
    browser.open(PageFetcher::wireAddress(
                     hosts::marketSearchUrl(results.cell(position, ResultsModel::Keyword).toByteArray())),
                 Browser::Show::Normal);
}
