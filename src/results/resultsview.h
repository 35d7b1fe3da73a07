#pragma once

#include <QTableView>

class ResultsModel;

// The results table: six fixed-width columns over the core model with the
// column colours, grid lines, whole-row single selection, the number cell
// editable in place. Header clicks do nothing: sorting is the tool row's.
class ResultsView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsView)

public:
    explicit ResultsView(ResultsModel *results, QWidget *parent = nullptr);

    // The selected row's position in the table, or -1 when no row is selected.
    int selectedPosition() const;

    static constexpr int columnWidths[] = {50, 150, 80, 100, 80, 410};
    // Rows are never lower than the small images a report view reserves room for.
    static constexpr int minimumRowHeight = 16;

    void doItemsLayout() override;

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    // What changed since the last layout: only rows added below the shown
    // ones need no repaint of the shown rows.
    enum class Changes
    {
        None,
        RowsBelow,
        Other
    };
    Changes m_changes = Changes::None;
};
