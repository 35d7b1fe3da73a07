#include "results/resultsview.h"

#include "results/resultscolourproxy.h"
#include "results/resultsmodel.h"

#include <QHeaderView>

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
}

int ResultsView::selectedPosition() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    return static_cast<const QAbstractProxyModel *>(model())->mapToSource(selected.first()).row();
}
