#pragma once

#include "history/historydatabase.h"

#include <QWidget>

class QPushButton;
class QTableWidget;
class SaveFileDialog;
class UserMessages;

// The run history: every recorded batch, newest first (date, seed, pages,
// rows, failures, state). 打开 shows a run's table in a window of its own
// (sortable, with the view filters and 导出…, saved as CSV, never fetching),
// 比较 two runs of one seed side by side, 删除 removes runs, 继续 asks for a
// run that did not finish to be continued in the query window.
class HistoryWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryWindow)

public:
    // database may be null when the history could not be opened; the window
    // then lists nothing.
    HistoryWindow(history::Database *database, UserMessages &messages, SaveFileDialog &saveDialog,
                  QWidget *parent = nullptr);

    void refresh();
    // The selected runs' ids, newest first.
    QList<qint64> selectedRuns() const;

    void openSelected();
    void compareSelected();
    void deleteSelected();
    void resumeSelected();

Q_SIGNALS:
    void resumeRequested(qint64 run);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Runs the database call, telling the user when it fails.
    bool attempt(const std::function<void()> &call);

    history::Database *m_database;
    UserMessages &m_messages;
    SaveFileDialog &m_saveDialog;
    QTableWidget *m_runs;
    QList<history::RunSummary> m_shown;
};
