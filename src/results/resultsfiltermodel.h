#pragma once

#include <QByteArray>
#include <QSortFilterProxyModel>
#include <optional>

class ResultsModel;

// What the filter bar asks of a row. Bounds are inclusive and read a cell as
// the sort reads it; a row whose cell holds no number fails a bound set on it.
struct ViewFilter
{
    std::optional<double> minItems;
    std::optional<double> maxItems;
    std::optional<double> minSales;
    std::optional<double> minPrice;
    std::optional<double> maxPrice;
    std::optional<double> minOpportunity;
    // Found in the keyword, description or parent, ASCII letter case ignored.
    QByteArray text;

    bool operator==(const ViewFilter &) const = default;
};

// The rows of the results table a view filter lets through, in the table's
// display order (it never sorts by itself). Hidden rows stay in the table.
class ResultsFilterModel final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsFilterModel)

public:
    explicit ResultsFilterModel(ResultsModel *results, QObject *parent = nullptr);

    const ViewFilter &viewFilter() const { return m_filter; }
    void setViewFilter(const ViewFilter &filter);

    // Whether the row at a table position passes the filter.
    bool accepts(int position) const;
    // The table positions of the rows shown, top to bottom.
    QList<int> shownPositions() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    ResultsModel *m_results;
    ViewFilter m_filter;
    QByteArray m_foldedText;
};
