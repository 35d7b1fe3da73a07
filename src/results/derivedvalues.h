#pragma once

#include "results/resultsmodel.h"

#include <QByteArray>

// The values a row's page gives beyond its six cells. A cell's number is
// read as the sort reads it (ResultsModel::numberIn). Numbers are written in
// plain decimal form, never with an exponent, so they read back the same way.
namespace derivedvalues {

// top sales / (item count + 1), from the row's cells; empty without both numbers.
QByteArray opportunity(QByteArrayView itemCount, QByteArrayView sales);
// top sales * price, from the row's cells; empty without both numbers.
QByteArray revenue(QByteArrayView sales, QByteArrayView price);

// The values that need the page's listed items, worked out once when the row
// is added since a front end may not keep the items.
struct ListedValues
{
    QByteArray topThreeShare; // the first three items' sales / all items' sales, empty when that is 0
    QByteArray medianPrice;   // of the items that have a price, empty when none has
    QByteArray titleMatches;  // how many titles contain the keyword (plain byte search)
};
ListedValues listedValues(const ResultRow &row, const RowDetails &details);

} // namespace derivedvalues
