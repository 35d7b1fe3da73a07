#include "app/quillmarshapp.h"
#include "history/historywindow.h"
#include "query/querywindow.h"
#include "recorders.h"
#include "recordingsavedialog.h"
#include "results/csvexport.h"
#include "results/resultsmodel.h"
#include "results/resultsview.h"
#include "simprocess.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::SimProcess;

namespace {

// The simulator on loopback and a data folder of its own (so a history file
// of its own) for the programs a test starts.
struct SimulatedMarket
{
    SimProcess sim;
    QTemporaryDir data;

    explicit SimulatedMarket(const QStringList &arguments) : sim(arguments)
    {
        qputenv("QUILLMARSH_MARKET_HOST", sim.hostAndPort());
        qputenv("QUILLMARSH_DATA_DIR", data.path().toLocal8Bit());
    }
};

// The program as main() builds it, against the simulator.
struct Program
{
    RecordingMessages messages;
    RecordingBrowser browser;
    testsupport::RecordingSaveDialog saveDialog;
    QuillmarshApp app{QuillmarshApp::Platform{messages, browser, saveDialog, [] { return false; }}};

    QPushButton *button(QWidget &window, const char *name)
    {
        return window.findChild<QPushButton *>(QString::fromLatin1(name));
    }
    void startBatch(const QString &seed)
    {
        app.queryWindow().findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(seed);
        button(app.queryWindow(), "Button4")->click();
    }
    // False when the batch did not end in time.
    bool runBatch(const QString &seed)
    {
        QSignalSpy ended(&app.queryWindow().scheduler(), &BatchScheduler::ended);
        startBatch(seed);
        return ended.wait(60'000);
    }
    // The history window from the query window's button, with these rows selected.
    HistoryWindow &history(const QList<int> &rows)
    {
        button(app.queryWindow(), "HistoryButton")->click();
        HistoryWindow &window = app.historyWindow();
        auto *runs = window.findChild<QTableWidget *>(QStringLiteral("RunsTable"));
        runs->clearSelection();
        for (const int row : rows)
            runs->selectionModel()->select(runs->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        return window;
    }
    // 打开 on one run of the list: its table's window, or null.
    QWidget *openRun(int row)
    {
        HistoryWindow &window = history({row});
        button(window, "OpenButton")->click();
        return window.findChild<QWidget *>(QStringLiteral("RunTableWindow"));
    }
};

} // namespace

// The history window over a real history file: a batch cut short when the
// program went away is continued from the list into the full table, and
// compared with another run of its seed; a run's own table is filtered and
// exported.
class TestHistoryWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void continuedAfterTheProgramWentAway()
    {
        SimulatedMarket market({QStringLiteral("--graph-size"), QStringLiteral("150"),
                                QStringLiteral("--latency"), QStringLiteral("5")});
        QVERIFY(market.sim.port() != 0);
        const QString seed = QStringLiteral("连衣裙");

        QByteArray whole;
        {
            Program program;
            QVERIFY(program.runBatch(seed));
            whole = csvexport::resultsCsv(program.app.queryWindow().results());
        }
        {
            // Gone mid-batch, as a killed program would be.
            Program program;
            program.startBatch(seed);
            QTRY_VERIFY_WITH_TIMEOUT(program.app.queryWindow().results().rowCount() > 30, 30'000);
        }
        Program program;
        HistoryWindow &window = program.history({0});
        auto *runs = window.findChild<QTableWidget *>(QStringLiteral("RunsTable"));
        QCOMPARE(runs->rowCount(), 2);
        QCOMPARE(runs->item(0, 5)->text(), QStringLiteral("interrupted"));
        QCOMPARE(runs->item(1, 5)->text(), QStringLiteral("finished"));

        QSignalSpy ended(&program.app.queryWindow().scheduler(), &BatchScheduler::ended);
        program.button(window, "ResumeButton")->click();
        QVERIFY(ended.wait(60'000));
        QCOMPARE(csvexport::resultsCsv(program.app.queryWindow().results()), whole);
        window.refresh();
        QCOMPARE(runs->item(0, 5)->text(), QStringLiteral("finished"));

        // Both runs of the seed: the same answers, so nothing changed.
        program.history({0, 1});
        program.button(window, "CompareButton")->click();
        auto *comparison = window.findChild<QWidget *>(QStringLiteral("ComparisonWindow"));
        QVERIFY(comparison);
        QCOMPARE(comparison->findChild<QTableWidget *>(QStringLiteral("ComparisonTable"))->rowCount(), 0);

        QWidget *opened = program.openRun(1);
        QVERIFY(opened);
        program.button(*opened, "SortBySales")->click();
        QCOMPARE(program.messages.texts(), QStringList{QStringLiteral("查询完成！")});
    }

    // A recorded run is filtered and exported like the live table: the count,
    // the rows left, and files of the rows shown or of all rows, in the order
    // the table shows them.
    void pastRunFilteredAndExported()
    {
        SimulatedMarket market({QStringLiteral("--graph-size"), QStringLiteral("60")});
        QVERIFY(market.sim.port() != 0);
        Program program;
        QVERIFY(program.runBatch(QStringLiteral("连衣裙")));
        QWidget *opened = program.openRun(0);
        QVERIFY(opened);
        QVERIFY(QTest::qWaitForWindowExposed(opened));
        const int total = program.app.historyWindow()
                              .findChild<QTableWidget *>(QStringLiteral("RunsTable"))
                              ->item(0, 3)
                              ->text()
                              .toInt();
        const QAbstractItemModel *shown =
            opened->findChild<ResultsView *>(QStringLiteral("RunTable"))->model();
        const auto cells = [shown](int column) {
            QStringList list;
            for (int row = 0; row < shown->rowCount(); ++row)
                list.append(shown->index(row, column).data().toString());
            return list;
        };
        QCOMPARE(shown->rowCount(), total);
        auto *count = opened->findChild<QLabel *>(QStringLiteral("ShownCount"));
        QVERIFY(!count->isVisible());

        // Most sales first, then the rows with at least the median item count.
        program.button(*opened, "SortBySales")->click();
        const QStringList keywords = cells(ResultsModel::Keyword);
        QList<qint64> items;
        for (const QString &cell : cells(ResultsModel::ItemCount))
            items.append(qint64(ResultsModel::numberIn(cell.toLatin1()).value_or(-1)));
        QList<qint64> ascending = items;
        std::sort(ascending.begin(), ascending.end());
        const qint64 median = ascending.value(ascending.size() / 2);
        QStringList expected;
        for (int row = 0; row < items.size(); ++row) {
            if (items[row] >= median)
                expected.append(keywords[row]);
        }
        QVERIFY2(expected.size() < total, "the run's item counts differ");
        opened->findChild<QLineEdit *>(QStringLiteral("MinItemsEdit"))->setText(QString::number(median));
        QCOMPARE(cells(ResultsModel::Keyword), expected);
        QVERIFY(count->isVisible());
        QCOMPARE(count->text(), QStringLiteral("显示 %1 / %2").arg(expected.size()).arg(total));

        auto *menu = opened->findChild<QMenu *>(QStringLiteral("ExportMenu"));
        const auto action = [menu](const char *caption) -> QAction * {
            const QList<QAction *> actions = menu->actions();
            const auto found =
                std::find_if(actions.cbegin(), actions.cend(), [caption](const QAction *entry) {
                    return entry->text() == QString::fromUtf8(caption);
                });
            return found == actions.cend() ? nullptr : *found;
        };
        QTemporaryDir out;
        const auto exportAs = [&](const char *caption, const QString &name) {
            program.saveDialog.answers = {out.filePath(name)};
            action(caption)->trigger();
        };
        const auto jsonKeywords = [&out](const QString &name) {
            QFile file(out.filePath(name));
            QStringList list;
            if (file.open(QIODevice::ReadOnly)) {
                for (const QJsonValue &row : QJsonDocument::fromJson(file.readAll()).array())
                    list.append(row[QLatin1String("keyword")].toString());
            }
            return list;
        };
        QAction *shownOnly = action("只导出显示的行");
        QVERIFY(shownOnly && shownOnly->isCheckable() && !shownOnly->isChecked());
        shownOnly->trigger();
        for (const char *caption : {"CSV（UTF-8）…", "Excel 工作簿（XLSX）…", "JSON…"}) {
            QVERIFY2(action(caption), caption);
            exportAs(caption, QStringLiteral("shown"));
        }
        QVERIFY(QFileInfo(out.filePath(QStringLiteral("shown.xlsx"))).size() > 0);
        QFile csv(out.filePath(QStringLiteral("shown.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        // The header, a line a row, nothing after the last CR LF.
        QCOMPARE(csv.readAll().split('\n').size(), expected.size() + 2);
        QCOMPARE(jsonKeywords(QStringLiteral("shown.json")), expected);
        shownOnly->trigger();
        exportAs("JSON…", QStringLiteral("all"));
        QCOMPARE(jsonKeywords(QStringLiteral("all.json")), keywords);

        // A file where the folder should be: the error box names the file.
        QVERIFY(testsupport::writeFile(out.filePath(QStringLiteral("taken")), "x"));
        exportAs("JSON…", QStringLiteral("taken/run"));
        QCOMPARE(program.messages.shown.size(), 2);
        QCOMPARE(program.messages.shown.last().kind, RecordingMessages::Kind::Error);
        QVERIFY2(program.messages.shown.last().text.contains(QStringLiteral("taken/run.json")),
                 qPrintable(program.messages.shown.last().text));
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
