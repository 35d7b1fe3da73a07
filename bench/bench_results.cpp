#include "benchpairs.h"
#include "benchrows.h"
#include "results/csvexport.h"
#include "results/opportunitychart.h"
#include "results/resultscolourproxy.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>
#include <vector>

namespace {

const QList<ResultRow> &millionRows()
{
    static const QList<ResultRow> rows = makeRows(1000000);
    return rows;
}

std::unique_ptr<ResultsModel> millionRowModel()
{
    auto model = std::make_unique<ResultsModel>();
    for (const ResultRow &row : millionRows())
        model->addRow(row);
    return model;
}

void BM_sort_rows(benchmark::State &state)
{
    const std::unique_ptr<ResultsModel> model = millionRowModel();
    for (auto _ : state) {
        // Sorting by item count leaves the sales column in random order.
        state.PauseTiming();
        model->sortByItemCount();
        state.ResumeTiming();
        model->sortBySales();
    }
}
BENCHMARK(BM_sort_rows)->Unit(benchmark::kMillisecond);

void BM_sort_doubles(benchmark::State &state)
{
    std::mt19937 random(7);
    std::vector<double> values(1000000);
    for (double &value : values)
        value = double(random() % 20000);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<double> copy = values;
        state.ResumeTiming();
        std::sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_sort_doubles)->Unit(benchmark::kMillisecond);

QUILLMARSH_BENCH_PAIR(sort_rows, BM_sort_rows, BM_sort_doubles, "<=4");

void BM_csv_export(benchmark::State &state)
{
    const std::unique_ptr<ResultsModel> model = millionRowModel();
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        csvexport::write(&buffer, csvexport::resultsCsv(*model));
        benchmark::DoNotOptimize(buffer.data().data());
    }
}
BENCHMARK(BM_csv_export)->Unit(benchmark::kMillisecond);

void BM_csv_write_assembled(benchmark::State &state)
{
    const QByteArray assembled = csvexport::resultsCsv(*millionRowModel());
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        csvexport::write(&buffer, assembled);
        benchmark::DoNotOptimize(buffer.data().data());
    }
}
BENCHMARK(BM_csv_write_assembled)->Unit(benchmark::kMillisecond);

QUILLMARSH_BENCH_PAIR(csv_export, BM_csv_export, BM_csv_write_assembled, "<=3");

// Ten listed items as a page gives them, the same for every row.
RowDetails listedDetails()
{
    RowDetails details;
    for (int i = 0; i < 10; ++i)
        details.items.append({text::toGbk(QStringLiteral("韩版修身显瘦连衣裙 夏季新款 第%1款").arg(i)),
                              QByteArray::number(199 - i) + ".90", QByteArray::number(9000 - i * 17)});
    details.depth = 2;
    details.parent = text::toGbk(QStringLiteral("连衣裙 夏"));
    return details;
}

// The window's model chain without a view: the core model under the view
// filter (a minimum opportunity hiding part of the rows) and the colour proxy,
// filled row by row as a batch does, derived columns and items included, then
// sorted by sales.
void BM_model_100k(benchmark::State &state)
{
    const QList<ResultRow> rows = millionRows().first(100000);
    const RowDetails details = listedDetails();
    for (auto _ : state) {
        ResultsModel model;
        ResultsFilterModel shown(&model);
        ViewFilter filter;
        filter.minOpportunity = 0.001;
        shown.setViewFilter(filter);
        ResultsColourProxy colours;
        colours.setSourceModel(&shown);
        for (const ResultRow &row : rows)
            model.addRow(row, details);
        model.sortBySales();
        benchmark::DoNotOptimize(shown.rowCount());
    }
}
BENCHMARK(BM_model_100k)->Unit(benchmark::kMillisecond);

// The same rows through the same chain with the chart following it, painted
// once offscreen.
void BM_chart_100k(benchmark::State &state)
{
    static int argc = 1;
    static char name[] = "bench_results";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    const QList<ResultRow> rows = millionRows().first(100000);
    const RowDetails details = listedDetails();
    for (auto _ : state) {
        ResultsModel model;
        ResultsFilterModel shown(&model);
        OpportunityChart chart(&model, &shown);
        chart.resize(430, 543);
        for (const ResultRow &row : rows)
            model.addRow(row, details);
        QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
        chart.render(&image);
        benchmark::DoNotOptimize(chart.pointCount());
    }
}
BENCHMARK(BM_chart_100k)->Unit(benchmark::kMillisecond);

// The least any table holding these rows pays: appending them to a plain list.
void BM_append_100k_plain(benchmark::State &state)
{
    const QList<ResultRow> rows = millionRows().first(100000);
    for (auto _ : state) {
        QList<ResultRow> list;
        for (const ResultRow &row : rows)
            list.append(row);
        benchmark::DoNotOptimize(list.data());
    }
}
BENCHMARK(BM_append_100k_plain)->Unit(benchmark::kMillisecond);

QUILLMARSH_BENCH_PAIR(model_100k, BM_model_100k, BM_append_100k_plain, "value<1s");
QUILLMARSH_BENCH_PAIR(chart_100k, BM_chart_100k, BM_model_100k, "value<1s");

} // namespace
