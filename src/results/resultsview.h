#pragma once

#include <QTableView>

class ResultsFilterModel;
class ResultsModel;

// The results table: the six fixed-width columns and the derived ones after
// them, over the rows the view filter lets through, with the column colours,
// grid lines, whole-row single selection and the number cell editable in
// place. A header click sorts the whole table by that column (a second click
// reverses) and shows the indicator until rows arrive. Ctrl+C copies the
// selected row as tab-separated text; a double click asks to visit it.
class ResultsView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsView)

public:
    ResultsView(ResultsModel *results, ResultsFilterModel *shown, QWidget *parent = nullptr);

    // The selected row's position in the table, or -1 when no row is selected.
    int selectedPosition() const;
    // Selects the row the view shows at a row of the filter model.
    void selectShownRow(int shownRow);
    // The selected row's cells as shown, tab-separated (empty without a selection).
    QString selectedRowText() const;
    void copySelectedRow() const;

    static constexpr int columnWidths[] = {50, 150, 80, 100, 80, 410, 70, 90, 80, 60, 60, 40, 150};
    // Rows are never lower than the small images a report view reserves room for.
    static constexpr int minimumRowHeight = 16;

    void doItemsLayout() override;

Q_SIGNALS:
    void visitRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    void showSortIndicator(int column, Qt::SortOrder order);

    // What changed since the last layout: only rows added below the shown
    // ones need no repaint of the shown rows.
    enum class Changes
    {
        None,
        RowsBelow,
        Other
    };
    Changes m_changes = Changes::None;
    ResultsModel *m_results;
    ResultsFilterModel *m_shown;
};
