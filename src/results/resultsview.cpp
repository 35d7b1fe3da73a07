#include "results/resultsview.h"

#include "results/resultscolourproxy.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <utility>

ResultsView::ResultsView(ResultsModel *results, ResultsFilterModel *shown, QWidget *parent)
    : QTableView(parent), m_results(results), m_shown(shown)
{
    auto *colours = new ResultsColourProxy(this);
    colours->setSourceModel(shown);
    setModel(colours);

    setShowGrid(true);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(SelectedClicked | EditKeyPressed);
    setWordWrap(false);
    setTabKeyNavigation(false);

    QHeaderView *header = horizontalHeader();
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        setColumnWidth(column, columnWidths[column]);
    // The header flips its indicator on a click (the column's first order
    // comes from Qt::InitialSortOrderRole); the model does the sorting.
    connect(header, &QHeaderView::sortIndicatorChanged, results, [results](int column, Qt::SortOrder order) {
        if (column >= 0)
            results->sort(column, order);
    });
    connect(results, &ResultsModel::sorted, this, &ResultsView::showSortIndicator);
    // A row added after a sort goes to the bottom, out of that order.
    const auto clearIndicator = [this] { showSortIndicator(-1, Qt::AscendingOrder); };
    connect(results, &QAbstractItemModel::rowsInserted, this, clearIndicator);
    connect(results, &QAbstractItemModel::modelReset, this, clearIndicator);
    connect(this, &QAbstractItemView::doubleClicked, this, &ResultsView::visitRequested);

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

void ResultsView::showSortIndicator(int column, Qt::SortOrder order)
{
    const QSignalBlocker quiet(horizontalHeader());
    horizontalHeader()->setSortIndicator(column, order);
    horizontalHeader()->viewport()->update();
}

int ResultsView::selectedPosition() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    const auto *colours = static_cast<const QAbstractProxyModel *>(model());
    return m_shown->mapToSource(colours->mapToSource(selected.first())).row();
}

void ResultsView::selectShownRow(int shownRow)
{
    selectRow(shownRow);
    scrollTo(model()->index(shownRow, 0));
}

QString ResultsView::selectedRowText() const
{
    const int position = selectedPosition();
    if (position < 0)
        return {};
    QStringList cells;
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        cells.append(m_results->index(position, column).data().toString());
    return cells.join(QLatin1Char('\t'));
}

void ResultsView::copySelectedRow() const
{
    if (const QString row = selectedRowText(); !row.isEmpty())
        QGuiApplication::clipboard()->setText(row);
}

void ResultsView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelectedRow();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
