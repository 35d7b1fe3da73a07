#include "results/resultsfiltermodel.h"

#include "results/resultsmodel.h"
#include "text/bytetext.h"

namespace {

// Reads the cell only when a bound is set on it.
template <typename Read>
bool within(Read read, const std::optional<double> &low, const std::optional<double> &high)
{
    if (!low && !high)
        return true;
    const std::optional<double> value = read();
    return value && (!low || *value >= *low) && (!high || *value <= *high);
}

} // namespace

ResultsFilterModel::ResultsFilterModel(ResultsModel *results, QObject *parent)
    : QSortFilterProxyModel(parent), m_results(results)
{
    setSourceModel(results);
}

void ResultsFilterModel::setViewFilter(const ViewFilter &filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    m_foldedText = text::foldCase(filter.text);
    invalidateRowsFilter();
}

bool ResultsFilterModel::accepts(int position) const
{
    const auto number = [this, position](int column) {
        return [this, position, column] { return ResultsModel::numberIn(m_results->cell(position, column)); };
    };
    const ViewFilter &f = m_filter;
    if (!within(number(ResultsModel::ItemCount), f.minItems, f.maxItems) ||
        !within(number(ResultsModel::Sales), f.minSales, std::nullopt) ||
        !within(number(ResultsModel::Price), f.minPrice, f.maxPrice) ||
        !within(number(ResultsModel::Opportunity), f.minOpportunity, std::nullopt))
        return false;
    if (m_foldedText.isEmpty())
        return true;
    for (const int column : {ResultsModel::Keyword, ResultsModel::Description, ResultsModel::Parent}) {
        if (text::position(m_foldedText, text::foldCase(m_results->cell(position, column))) > 0)
            return true;
    }
    return false;
}

QList<int> ResultsFilterModel::shownPositions() const
{
    QList<int> positions;
    positions.reserve(rowCount());
    for (int row = 0; row < rowCount(); ++row)
        positions.append(mapToSource(index(row, 0)).row());
    return positions;
}

bool ResultsFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    return accepts(sourceRow);
}
