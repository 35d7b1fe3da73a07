#pragma once

#include "common/marketprofile.h"
#include "query/keywordfilter.h"
#include "results/resultsmodel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

class KeywordQueue;

// Reads a marketplace search result page by the text markers of a market
// profile: the related searches become new queue lines, the item count, best
// seller's sales, price and title become one result row. Pure: the caller applies
// what it returns, so the same page always reads the same way.
namespace pageparser {

struct Harvest
{
    // Related keywords not yet queued, in page order.
    QList<QByteArray> keywords;
    // The page's row, when it passes the acceptance tests. Its number cell is
    // left empty for the caller to fill.
    std::optional<ResultRow> row;
    // The page gave a row or shows at least one of the profile's markers. A
    // page that does neither is a sign-in, verification or changed page.
    bool recognised = false;
    // With a row, the first items the page lists (listedItems).
    QList<ListedItem> items;
    // Candidates that would have been queued but hold an excluded word, in page order.
    QList<QByteArray> excluded;
};

// The most items read from one page.
constexpr int MaxListedItems = 10;

// page: the body as received (GBK, or UTF-8 that is converted to GBK).
// keyword: the queue line the page was fetched for; it becomes the row's keyword.
// queue and filter are read as they are now: candidates already queued are
// skipped, and with mustContain only those containing filter.boxText are kept.
// profile: the markers to read the page by.
Harvest parse(QByteArrayView page, const QByteArray &keyword, const KeywordQueue &queue,
              const KeywordFilter &filter, const MarketProfile &profile = MarketProfile::builtIn());

// The first MaxListedItems items of a GBK page, best seller first: the i-th
// item's title, price and sales are cut at the i-th occurrence of the
// profile's markers that give the row's description, price and sales, by
// the same rules (sales normalised). Reading stops at the first item one of those
// markers no longer occurs for. The first item's values are the row's cells.
QList<ListedItem> listedItems(QByteArrayView page, const MarketProfile &profile = MarketProfile::builtIn());

} // namespace pageparser
