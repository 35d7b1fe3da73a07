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
class TForm2 final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm2)

public:
    TForm2(UserSession &session, UserMessages &messages, Browser &browser, SaveFileDialog &saveDialog,
           QWidget *parent = nullptr);
    ~TForm2() override;

    // Activation hides the login window; a close request closes it.
    void setLoginWindow(QWidget *form1) { m_form1 = form1; }

    ResultsModel &results() { return m_results; }
    BatchScheduler &scheduler() { return m_scheduler; }

public Q_SLOTS:
    void Button4Click(); // start a batch
    void Button5Click(); // stop
    void Button6Click(); // save as CSV
    void Button1Click(); // sort by sales
    void Button2Click(); // sort by price
    void Button3Click(); // sort by item count
    void N6Click();      // visit the selected row's keyword
    void Edit1Click();   // a mouse click empties the keyword box
    void FormActivate();
    void FormCloseQuery();

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
    QWidget *m_form1 = nullptr;

    QFrame *m_panel1 = nullptr;
    QLineEdit *m_edit1 = nullptr;
    QCheckBox *m_checkBox1 = nullptr;
    QPushButton *m_button4 = nullptr;
    QFrame *m_panel2 = nullptr;
    ResultsView *m_listView1 = nullptr;
    QStatusBar *m_statusBar1 = nullptr;
    QLabel *m_statusPanels[3] = {};
    QLabel *m_failedPanel = nullptr;
    QMenu *m_popupMenu1 = nullptr;

    // Declared last: the scheduler reads the controls and writes the model,
    // so it is destroyed first.
    ResultsModel m_results;
    BatchScheduler m_scheduler;
};
