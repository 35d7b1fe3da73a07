#pragma once

#include "results/resultsmodel.h"

#include <QByteArray>
#include <array>

// The values a row's page gives beyond its six cells. A cell's number is
// read as the sort reads it (ResultsModel::numberIn). Numbers are written in
// plain decimal form, never with an exponent, so they read back the same way.
namespace derivedvalues {

// In column order from ResultsModel::Opportunity to ResultsModel::Parent:
// top sales / (item count + 1); top sales * price; the first three listed
// items' sales / all listed items' sales (empty when that is 0); the median
// price of the listed items that have one; how many listed titles contain the
// keyword (plain byte search); depth; parent.
std::array<QByteArray, ResultsModel::ColumnCount - ResultsModel::DescribedColumnCount>
cells(const ResultRow &row, const RowDetails &details);

} // namespace derivedvalues
