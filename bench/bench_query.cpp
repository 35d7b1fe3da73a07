#include "benchpairs.h"
#include "query/keywordqueue.h"
#include "query/pageparser.h"
#include "resultpage.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QSet>
#include <QStringEncoder>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

const QString seed = QStringLiteral("连衣裙");

// About 200 KB: styles and scripts ahead of the markers, 44 listed items and
// ten related searches, as the marketplace serves them.
QByteArray resultPage(sim::PageEncoding encoding)
{
    sim::ResultPage page;
    page.keyword = seed;
    for (const char *related : {"连衣裙 夏", "碎花连衣裙", "雪纺连衣裙", "连衣裙 长款", "Dress 连衣裙",
                                "蕾丝连衣裙", "连衣裙 韩版", "连衣裙 2026 新款", "真丝连衣裙", "连衣裙 大码"})
        page.related.append(QString::fromUtf8(related));
    page.itemCount = QStringLiteral("1234567");
    for (int i = 0; i < 44; ++i)
        page.items.append({QStringLiteral("韩版修身显瘦连衣裙 夏季新款 第%1款").arg(i),
                           QStringLiteral("%1.90").arg(199 - i), 9000 - i * 17});
    return sim::renderResultPage(page, encoding, 200 * 1024);
}

void parse(benchmark::State &state, sim::PageEncoding encoding)
{
    const QByteArray page = resultPage(encoding);
    const QByteArray keyword = text::toGbk(seed);
    KeywordQueue queue;
    queue.append(keyword);
    const KeywordFilter filter{keyword, true};
    for (auto _ : state) {
        pageparser::Harvest harvest = pageparser::parse(page, keyword, queue, filter);
        benchmark::DoNotOptimize(harvest);
    }
    state.SetBytesProcessed(state.iterations() * page.size());
}

// What any reader of the page pays at least: finding, once each, every
// marker occurrence the parse uses: the heading and the item count once, and
// the title, price and sales markers of each listed item read.
void findMarkers(benchmark::State &state, sim::PageEncoding encoding)
{
    const QByteArray page = resultPage(encoding);
    QStringEncoder encoder(encoding == sim::PageEncoding::Gbk ? "GBK" : "UTF-8");
    const auto encoded = [&encoder](const char *marker) {
        return QByteArray(encoder.encode(QString::fromUtf8(marker)));
    };
    const std::vector<QByteArray> once{encoded("你是不是想找"), encoded("找到相关宝贝<em>")};
    const std::vector<QByteArray> perItem{encoded("最近成交"), encoded("<li class=\"price\"><em>"),
                                          encoded("EventCanSelect\" title=\"")};
    for (auto _ : state) {
        qsizetype positions = 0;
        for (const QByteArray &marker : once)
            positions += QByteArrayView(page).indexOf(marker);
        for (const QByteArray &marker : perItem) {
            qsizetype from = 0;
            for (int item = 0; item < pageparser::MaxListedItems; ++item) {
                from = QByteArrayView(page).indexOf(marker, from) + marker.size();
                positions += from;
            }
        }
        benchmark::DoNotOptimize(positions);
    }
    state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_parseGbk(benchmark::State &state)
{
    parse(state, sim::PageEncoding::Gbk);
}
void BM_findMarkersGbk(benchmark::State &state)
{
    findMarkers(state, sim::PageEncoding::Gbk);
}
void BM_parseUtf8(benchmark::State &state)
{
    parse(state, sim::PageEncoding::Utf8);
}
void BM_findMarkersUtf8(benchmark::State &state)
{
    findMarkers(state, sim::PageEncoding::Utf8);
}

// The obvious way to keep a batch's keywords: the lines in a list, their
// case-folded forms in a hash set beside them.
class SetAndList
{
public:
    int count() const { return int(m_lines.size()); }
    bool holds(QByteArrayView keyword) const { return m_folded.contains(text::foldCase(keyword)); }
    void append(const QByteArray &line)
    {
        m_lines.append(line);
        m_folded.insert(text::foldCase(line));
    }
    void clear()
    {
        m_lines.clear();
        m_folded.clear();
    }

private:
    QList<QByteArray> m_lines;
    QSet<QByteArray> m_folded;
};

// One holds and one append per new keyword, the parser's way of queueing, as
// the store grows from 1,100,000 lines to twice that: a window that holds one
// growth of the index, as growing one line at a time does on average. The
// store is then rebuilt (untimed) for the next window.
template <typename Store> void holdsAppend(benchmark::State &state)
{
    constexpr int lines = 1'100'000;
    constexpr int batch = 100;
    // Harvested keywords look like these: a few Chinese characters and a number.
    const QByteArray prefix = text::toGbk(seed) + ' ';
    std::vector<QByteArray> keywords;
    keywords.reserve(2 * lines);
    for (int n = 0; n < 2 * lines; ++n)
        keywords.push_back(prefix + QByteArray::number(n));
    Store store;
    const auto rebuild = [&] {
        store.clear();
        for (int n = 0; n < lines; ++n)
            store.append(keywords[n]);
    };
    rebuild();
    for (auto _ : state) {
        if (store.count() + batch > 2 * lines) {
            state.PauseTiming();
            rebuild();
            state.ResumeTiming();
        }
        const int first = store.count();
        for (int n = first; n < first + batch; ++n) {
            if (!store.holds(keywords[n]))
                store.append(keywords[n]);
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void BM_queueMillionLines(benchmark::State &state)
{
    holdsAppend<KeywordQueue>(state);
}
void BM_setAndListMillionLines(benchmark::State &state)
{
    holdsAppend<SetAndList>(state);
}

} // namespace

BENCHMARK(BM_parseGbk);
BENCHMARK(BM_findMarkersGbk);
BENCHMARK(BM_parseUtf8);
BENCHMARK(BM_findMarkersUtf8);
BENCHMARK(BM_queueMillionLines);
BENCHMARK(BM_setAndListMillionLines);

QUILLMARSH_BENCH_PAIR(parse_gbk, BM_parseGbk, BM_findMarkersGbk, "<=3");
QUILLMARSH_BENCH_PAIR(parse_utf8, BM_parseUtf8, BM_findMarkersUtf8, "<=10");
QUILLMARSH_BENCH_PAIR(queue_vs_set, BM_queueMillionLines, BM_setAndListMillionLines, "<=0.5");
