#pragma once

#include "results/exportcommand.h"
#include "results/tableexport.h"

#include <QList>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class ResultsFilterModel;
class ResultsModel;
class SaveFileDialog;
class UserMessages;

// The view filters of a results table (item count range, minimum sales,
// price range, minimum opportunity, a text) and 导出… with its formats, of
// all rows or of the rows shown. A table window lays the bar out in a row of
// its own and puts the bar's "显示 X / Y" count where it has room; the count
// shows only while a view filter is set. Errors go to the message boxes.
class ResultsFilterBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsFilterBar)

public:
    ResultsFilterBar(ResultsModel &results, ResultsFilterModel &shown, UserMessages &messages,
                     SaveFileDialog &saveDialog, QWidget *parent = nullptr);

    // Made with the bar as its parent; the holder moves it into its own layout.
    QLabel *shownCount() const { return m_shownLabel; }
    // The bar's controls in the order they stand, for the holder's tab order.
    QList<QWidget *> tabChain() const;

public Q_SLOTS:
    // Every column of all rows, or of the rows shown when 只导出显示的行 is ticked.
    void exportResults(tableexport::Format format);

private:
    void applyViewFilter();
    void showShownCount();

    ResultsModel &m_results;
    ResultsFilterModel &m_shown;
    UserMessages &m_messages;
    ExportCommand m_export;

    QLineEdit *m_minItemsEdit = nullptr;
    QLineEdit *m_maxItemsEdit = nullptr;
    QLineEdit *m_minSalesEdit = nullptr;
    QLineEdit *m_minPriceEdit = nullptr;
    QLineEdit *m_maxPriceEdit = nullptr;
    QLineEdit *m_minOpportunityEdit = nullptr;
    QLineEdit *m_textFilterEdit = nullptr;
    QWidget *m_exportButton = nullptr;
    QAction *m_exportShownOnly = nullptr;
    QLabel *m_shownLabel = nullptr;
};
