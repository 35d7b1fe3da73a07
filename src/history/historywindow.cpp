#include "history/historywindow.h"

#include "common/usermessages.h"
#include "common/windowfont.h"
#include "history/runcomparison.h"
#include "history/runrestore.h"
#include "results/csvexport.h"
#include "results/csvsavecommand.h"
#include "results/resultsfilterbar.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "results/resultsview.h"
#include "results/savefiledialog.h"
#include "text/gbk.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QPushButton *addButton(QBoxLayout *row, const QString &caption, const QString &objectName)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(objectName);
    row->addWidget(button);
    return button;
}

QTableWidget *tableOf(const QStringList &headers, const QList<QStringList> &rows, QWidget *parent)
{
    auto *table = new QTableWidget(int(rows.size()), int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < headers.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(rows[row].value(column)));
    }
    table->resizeColumnsToContents();
    return table;
}

// A window of its own, deleted when closed.
QWidget *toolWindow(QWidget *owner, const QString &title, const QString &objectName)
{
    auto *window = new QWidget(owner, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(objectName);
    window->setWindowTitle(title);
    window->resize(900, 500);
    return window;
}

// A past run's table: sorted by the query window's three orders, filtered and
// exported with the query window's filter bar, saved as its CSV; nothing here
// fetches.
class RunTableWindow final : public QWidget
{
public:
    RunTableWindow(const history::StoredRun &run, SaveFileDialog &saveDialog, UserMessages &messages,
                   QWidget *owner)
        : QWidget(owner, Qt::Window), m_save(saveDialog)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setObjectName(QStringLiteral("RunTableWindow"));
        setWindowTitle(
            QStringLiteral("%1 — %2").arg(text::fromGbk(run.summary.seed),
                                          run.summary.started.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
        // The query window's: the columns and the filter boxes are sized for it.
        setFont(tableWindowFont());
        resize(910, 500);
        history::fillTable(m_results, run);
        auto *layout = new QVBoxLayout(this);
        auto *tools = new QHBoxLayout;
        layout->addLayout(tools);
        connect(addButton(tools, QStringLiteral("按宝贝数量排序"), QStringLiteral("SortByItemCount")),
                &QPushButton::clicked, this, [this] { m_results.sortByItemCount(); });
        connect(addButton(tools, QStringLiteral("按成交笔数排序"), QStringLiteral("SortBySales")),
                &QPushButton::clicked, this, [this] { m_results.sortBySales(); });
        connect(addButton(tools, QStringLiteral("按成交价格排序"), QStringLiteral("SortByPrice")),
                &QPushButton::clicked, this, [this] { m_results.sortByPrice(); });
        connect(addButton(tools, QStringLiteral("保存结果"), QStringLiteral("SaveButton")),
                &QPushButton::clicked, this, [this, &messages] {
                    try {
                        m_save.run(m_results);
                    } catch (const AppError &error) {
                        messages.showError(error);
                    }
                });
        tools->addStretch();
        auto *filters = new ResultsFilterBar(m_results, m_shown, messages, saveDialog, this);
        filters->shownCount()->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tools->addWidget(filters->shownCount());
        layout->addWidget(filters);
        auto *table = new ResultsView(&m_results, &m_shown, this);
        table->setObjectName(QStringLiteral("RunTable"));
        layout->addWidget(table);
    }

private:
    ResultsModel m_results;
    ResultsFilterModel m_shown{&m_results};
    CsvSaveCommand m_save;
};

} // namespace

HistoryWindow::HistoryWindow(history::Database *database, UserMessages &messages, SaveFileDialog &saveDialog,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_database(database), m_messages(messages), m_saveDialog(saveDialog),
      m_runs(tableOf({QStringLiteral("日期"), QStringLiteral("关键词"), QStringLiteral("页数"),
                      QStringLiteral("行数"), QStringLiteral("失败"), QStringLiteral("状态")},
                     {}, this))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("查询历史"));
    resize(640, 420);
    m_runs->setObjectName(QStringLiteral("RunsTable"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_runs);
    auto *buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    connect(addButton(buttons, QStringLiteral("打开"), QStringLiteral("OpenButton")), &QPushButton::clicked,
            this, &HistoryWindow::openSelected);
    connect(addButton(buttons, QStringLiteral("比较"), QStringLiteral("CompareButton")),
            &QPushButton::clicked, this, &HistoryWindow::compareSelected);
    connect(addButton(buttons, QStringLiteral("继续"), QStringLiteral("ResumeButton")), &QPushButton::clicked,
            this, &HistoryWindow::resumeSelected);
    connect(addButton(buttons, QStringLiteral("删除"), QStringLiteral("DeleteButton")), &QPushButton::clicked,
            this, &HistoryWindow::deleteSelected);
    buttons->addStretch();
    connect(addButton(buttons, QStringLiteral("刷新"), QStringLiteral("RefreshButton")),
            &QPushButton::clicked, this, &HistoryWindow::refresh);
}

void HistoryWindow::showEvent(QShowEvent *event)
{
    refresh();
    QWidget::showEvent(event);
}

bool HistoryWindow::attempt(const std::function<void()> &call)
{
    if (!m_database)
        return false;
    try {
        call();
        return true;
    } catch (const history::HistoryError &error) {
        m_messages.showPlain(error.message());
        return false;
    }
}

void HistoryWindow::refresh()
{
    QList<history::RunSummary> runs;
    attempt([&] { runs = m_database->runs(); });
    m_shown = runs;
    m_runs->setRowCount(int(runs.size()));
    for (int row = 0; row < runs.size(); ++row) {
        const history::RunSummary &run = runs[row];
        const QStringList cells{run.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                text::fromGbk(run.seed),
                                QString::number(run.pages),
                                QString::number(run.rows),
                                QString::number(run.failures),
                                history::stateName(run.state)};
        for (int column = 0; column < cells.size(); ++column)
            m_runs->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_runs->resizeColumnsToContents();
}

QList<qint64> HistoryWindow::selectedRuns() const
{
    QList<qint64> ids;
    for (const QModelIndex &index : m_runs->selectionModel()->selectedRows())
        ids.append(m_shown.value(index.row()).id);
    std::sort(ids.begin(), ids.end(), std::greater<>());
    return ids;
}

void HistoryWindow::openSelected()
{
    for (const qint64 id : selectedRuns()) {
        std::optional<history::StoredRun> run;
        if (attempt([&] { run = m_database->run(id, history::Database::RunParts::Table); }) && run)
            (new RunTableWindow(*run, m_saveDialog, m_messages, this))->show();
    }
}

void HistoryWindow::compareSelected()
{
    const QList<qint64> ids = selectedRuns();
    std::optional<history::StoredRun> newer;
    std::optional<history::StoredRun> older;
    if (ids.size() == 2) {
        attempt([&] {
            newer = m_database->run(ids[0], history::Database::RunParts::Table);
            older = m_database->run(ids[1], history::Database::RunParts::Table);
        });
    }
    if (!newer || !older || newer->summary.seed != older->summary.seed) {
        m_messages.showPlain(QStringLiteral("请选择同一关键词的两次查询。"));
        return;
    }
    const QList<history::KeywordChange> changes = history::compareRuns(*older, *newer);
    QList<QStringList> rows;
    for (const history::KeywordChange &change : changes)
        rows.append(history::comparisonCells(change));
    QWidget *window =
        toolWindow(this,
                   QStringLiteral("%1：%2 → %3")
                       .arg(text::fromGbk(newer->summary.seed),
                            older->summary.started.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            newer->summary.started.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                   QStringLiteral("ComparisonWindow"));
    auto *layout = new QVBoxLayout(window);
    QTableWidget *table = tableOf(history::comparisonHeaders(), rows, window);
    table->setObjectName(QStringLiteral("ComparisonTable"));
    table->setSortingEnabled(true);
    layout->addWidget(table);
    auto *tools = new QHBoxLayout;
    layout->addLayout(tools);
    const QByteArray csv = history::comparisonCsv(changes);
    connect(addButton(tools, QStringLiteral("保存比较"), QStringLiteral("SaveComparisonButton")),
            &QPushButton::clicked, window, [this, csv] {
                const std::optional<QString> name = m_saveDialog.askFileName({});
                if (!name)
                    return;
                try {
                    csvexport::save(csvexport::csvFileName(*name),
                                    [&csv](QIODevice *file) { csvexport::write(file, csv); });
                } catch (const AppError &error) {
                    m_messages.showError(error);
                }
            });
    tools->addStretch();
    window->show();
}

void HistoryWindow::deleteSelected()
{
    for (const qint64 id : selectedRuns()) {
        const auto shown = std::find_if(m_shown.cbegin(), m_shown.cend(),
                                        [id](const history::RunSummary &run) { return run.id == id; });
        if (shown != m_shown.cend() && shown->state == history::RunState::Running) {
            m_messages.showPlain(QStringLiteral("正在进行的查询不能删除。"));
            continue;
        }
        attempt([&] { m_database->deleteRun(id); });
    }
    refresh();
}

void HistoryWindow::resumeSelected()
{
    const QList<qint64> ids = selectedRuns();
    if (ids.size() == 1)
        Q_EMIT resumeRequested(ids.first());
}
