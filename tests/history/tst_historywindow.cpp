#include "app/quillmarshapp.h"
#include "history/historywindow.h"
#include "query/querywindow.h"
#include "recorders.h"
#include "recordingsavedialog.h"
#include "results/csvexport.h"
#include "results/resultsmodel.h"
#include "simprocess.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using testsupport::RecordingBrowser;
using testsupport::RecordingMessages;
using testsupport::SimProcess;

namespace {

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
};

} // namespace

// The history window over a real history file: a batch cut short when the
// program went away is continued from the list into the full table, and
// compared with another run of its seed.
class TestHistoryWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void continuedAfterTheProgramWentAway()
    {
        SimProcess sim({QStringLiteral("--graph-size"), QStringLiteral("150"), QStringLiteral("--latency"),
                        QStringLiteral("5")});
        QVERIFY(sim.port() != 0);
        qputenv("QUILLMARSH_MARKET_HOST", sim.hostAndPort());
        QTemporaryDir data;
        qputenv("QUILLMARSH_DATA_DIR", data.path().toLocal8Bit());
        const QString seed = QStringLiteral("连衣裙");

        QByteArray whole;
        {
            Program program;
            QSignalSpy ended(&program.app.queryWindow().scheduler(), &BatchScheduler::ended);
            program.startBatch(seed);
            QVERIFY(ended.wait(60'000));
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

        program.history({1});
        program.button(window, "OpenButton")->click();
        auto *opened = window.findChild<QWidget *>(QStringLiteral("RunTableWindow"));
        QVERIFY(opened);
        program.button(*opened, "SortBySales")->click();
        QCOMPARE(program.messages.texts(), QStringList{QStringLiteral("查询完成！")});
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
