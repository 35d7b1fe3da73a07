#pragma once

#include "query/batchscheduler.h"
#include "query/settingsdialog.h"
#include "results/csvsavecommand.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"

#include <QTimer>
#include <QWidget>

class Browser;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class ResultsFilterBar;
class ResultsView;
class SaveFileDialog;
class UserMessages;
class UserSession;

// The query window: the tool row (keyword box, must-contain box, batch, stop,
// save and the three sort buttons), the filter bar (exclusion words, then the
// view filters and export of ResultsFilterBar, then chart), the results table with its right-click menu, the
// three-panel status bar and the chart panel beside them when it is shown. It only lays out and wires:
// batches run in the scheduler, rows and sorting live in the results model, saving and visiting in their core
// commands.
class OpportunityChart;

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
    ResultsFilterModel &shownResults() { return m_shown; }
    BatchScheduler &scheduler() { return m_scheduler; }
    // The keyword box and the must-contain tick as they stand.
    KeywordFilter keywordFilter() const;
    void setKeywordFilter(const KeywordFilter &filter);

Q_SIGNALS:
    // The 历史 button: the run history is wanted.
    void historyRequested();

public Q_SLOTS:
    void startBatch();
    void stopBatch();
    void saveResults(); // as CSV
    void sortBySales();
    void sortByPrice();
    void sortByItemCount();
    void visitSelectedKeyword();
    void copySelectedKeyword();
    void setChartShown(bool shown);
    void clearKeywordBox(); // a mouse click in the box does this
    // Opens 设置 without blocking; OK applies the values from the next batch
    // on and keeps them in the data folder (settings.ini, the cookie file).
    void editSettings();
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
    void createFilterBar(SaveFileDialog &saveDialog);
    void createStatusBar();
    void createCrawlBar();
    void showFailedCount(int failed);
    void showCrawlFigures();
    void showStatusText(int panel, const QString &text);
    void showPendingStatus();
    void loadSettings();
    void applySettings(const SettingsDialog::Values &values);
    void showExcludedCount(int excluded);
    void exclusionTextChanged(const QString &text);

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
    QLabel *m_crawlFigures = nullptr;
    QTimer m_figuresTimer;
    // Status panels 1 and 2 change with every page; they are redrawn at most
    // this often, the last text always shown.
    QTimer m_statusTimer;
    QString m_pendingStatus[3];
    SettingsDialog::Values m_settings;
    QFrame *m_filterBar = nullptr;
    QLineEdit *m_exclusionEdit = nullptr;
    QLabel *m_excludedLabel = nullptr;
    ResultsFilterBar *m_viewFilters = nullptr;
    QPushButton *m_chartButton = nullptr;
    OpportunityChart *m_chart = nullptr;
    // The exclusion words as the scheduler reads them, folded once per edit.
    QList<QByteArray> m_excludedWords;

    // Declared last: the scheduler reads the controls and writes the model,
    // so it is destroyed first.
    ResultsModel m_results;
    ResultsFilterModel m_shown{&m_results};
    BatchScheduler m_scheduler;
};
