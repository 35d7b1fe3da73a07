#include "benchpairs.h"
#include "benchrows.h"
#include "history/historydatabase.h"
#include "history/runrestore.h"
#include "results/resultscolourproxy.h"
#include "results/resultsmodel.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int openedRows = 100000;

const QList<ResultRow> &rows()
{
    static const QList<ResultRow> made = makeRows(openedRows);
    return made;
}

// A history file holding one finished run of 100,000 pages, each with a row,
// written as a batch writes it (a transaction of a few hundred pages at a time).
struct RecordedRun
{
    QTemporaryDir folder;
    std::unique_ptr<history::Database> database;
    qint64 id = 0;

    RecordedRun()
    {
        database = std::make_unique<history::Database>(folder.filePath(QStringLiteral("history.sqlite")));
        id = database->beginRun(
            {rows().first()[ResultsModel::Keyword], rows().first()[ResultsModel::Keyword], true, {}, "demo"},
            0);
        QList<history::Database::PageRecord> pages;
        for (int line = 0; line < openedRows; ++line) {
            const ResultRow &row = rows()[line];
            history::Database::PageRecord page;
            page.firstLine = line;
            page.queued = {{row[ResultsModel::Keyword], line == 0 ? 0 : 1, line == 0 ? -1 : 0}};
            page.line = line;
            page.outcome = PageOutcome::Row;
            page.cells = QList<QByteArray>(row.begin(), row.end());
            pages.append(page);
            if (pages.size() == 500 || line == openedRows - 1) {
                database->record(id, pages);
                pages.clear();
            }
        }
        database->endRun(id, history::RunState::Finished);
    }
};

RecordedRun &recordedRun()
{
    static RecordedRun run;
    return run;
}

// The history window's open: the run read back and put into the table the
// window shows (the core model under the colour proxy).
void BM_history_open(benchmark::State &state)
{
    RecordedRun &recorded = recordedRun();
    for (auto _ : state) {
        ResultsModel model;
        ResultsColourProxy colours;
        colours.setSourceModel(&model);
        history::fillTable(model, *recorded.database->run(recorded.id, history::Database::RunParts::Table));
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_history_open)->Unit(benchmark::kMillisecond);

// The same table filled from rows already in memory.
void BM_table_from_memory(benchmark::State &state)
{
    for (auto _ : state) {
        ResultsModel model;
        ResultsColourProxy colours;
        colours.setSourceModel(&model);
        for (const ResultRow &row : rows())
            model.addRow(row);
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_table_from_memory)->Unit(benchmark::kMillisecond);

QUILLMARSH_BENCH_PAIR(history_open, BM_history_open, BM_table_from_memory, "value<1s");

} // namespace
