#pragma once

#include "query/batchscheduler.h"
#include "results/csvsavecommand.h"
#include "results/resultsmodel.h"

#include <QWidget>

class Browser;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class ResultsView;
class SaveFileDialog;
class UserMessages;
class UserSession;

// The query window: the tool row (keyword box, must-contain box, batch, stop,
// save and the three sort buttons), the results table with its right-click
// menu and the three-panel status bar. It only lays out and wires: batches
// run in the scheduler, rows and sorting live in the results model, saving
// and visiting in their core commands.
class QueryWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueryWindow)

public:
    QueryWindow(UserSession &session, UserMessages &messages, Browser &browser, SaveFileDialog &saveDialog,
                QWidget *parent = nullptr);
    ~QueryWindow() override;

    // Activation hides the login window; a close request closes it.
    void setLoginWindow(QWidget *loginWindow) { m_loginWindow = loginWindow; }

    ResultsModel &results() { return m_results; }
    BatchScheduler &scheduler() { return m_scheduler; }

public Q_SLOTS:
    void startBatch();
    void stopBatch();
    void saveResults(); // as CSV
    void sortBySales();
    void sortByPrice();
    void sortByItemCount();
    void visitSelectedKeyword();
    void clearKeywordBox(); // a mouse click in the box does this
    // Hides the login window and brings the caption up to date.
    void onActivated();
    void closeLoginWindow();

Q_SIGNALS:
    // The batch is about to show a message box ("查询完成！").
    void messageDue();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createToolRow();
    void createTable();
    void createStatusBar();
    void showFailedCount(int failed);

    UserSession &m_session;
    UserMessages &m_messages;
    Browser &m_browser;
    CsvSaveCommand m_save;
    QWidget *m_loginWindow = nullptr;

    QFrame *m_toolRow = nullptr;
    QLineEdit *m_keywordEdit = nullptr;
    QCheckBox *m_mustContainBox = nullptr;
    QPushButton *m_batchButton = nullptr;
    QFrame *m_tableArea = nullptr;
    ResultsView *m_resultsView = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_statusPanels[3] = {};
    QLabel *m_failedPanel = nullptr;
    QMenu *m_rowMenu = nullptr;

    // Declared last: the scheduler reads the controls and writes the model,
    // so it is destroyed first.
    ResultsModel m_results;
    BatchScheduler m_scheduler;
};
