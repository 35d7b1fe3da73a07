#include "results/resultsview.h"

#include "results/resultscolourproxy.h"
#include "results/resultsmodel.h"

#include <QHeaderView>
#include <utility>

ResultsView::ResultsView(ResultsModel *results, QWidget *parent) : QTableView(parent)
{
    auto *colours = new ResultsColourProxy(this);
    colours->setSourceModel(results);
    setModel(colours);

    setShowGrid(true);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(SelectedClicked | EditKeyPressed);
    setWordWrap(false);
    setTabKeyNavigation(false);

    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        setColumnWidth(column, columnWidths[column]);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(minimumRowHeight);
    verticalHeader()->setDefaultSectionSize(qMax(minimumRowHeight, fontMetrics().height() + 4));

    const auto changed = [this] { m_changes = Changes::Other; };
    connect(colours, &QAbstractItemModel::modelReset, this, changed);
    connect(colours, &QAbstractItemModel::layoutChanged, this, changed);
    connect(colours, &QAbstractItemModel::rowsRemoved, this, changed);
}

void ResultsView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    const int lastShown = rowAt(viewport()->height() - 1);
    const bool below = lastShown >= 0 && start > lastShown;
    m_changes = below && m_changes != Changes::Other ? Changes::RowsBelow : Changes::Other;
    QTableView::rowsInserted(parent, start, end);
}

// During a batch a row arrives with every page, and once the table is full
// it lands below the shown rows: only the scroll bar changes. Repainting the
// shown rows for each page would cost more than reading the page.
void ResultsView::doItemsLayout()
{
    const Changes changes = std::exchange(m_changes, Changes::None);
    if (changes == Changes::RowsBelow)
        updateGeometries();
    else
        QTableView::doItemsLayout();
}

int ResultsView::selectedPosition() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    return static_cast<const QAbstractProxyModel *>(model())->mapToSource(selected.first()).row();
}
