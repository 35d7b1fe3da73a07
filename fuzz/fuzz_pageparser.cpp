// The result page parser on any page, with a queue and a keyword filter
// taken from the input. The input's first line is "F|box text|keyword|queued
// line|queued line..." (F: '1' ticks must-contain); the rest is the page.
#include "query/keywordqueue.h"
#include "query/pageparser.h"
#include "text/bytetext.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArrayView head = lineEnd < 0 ? input : input.first(lineEnd);
    const QByteArrayView page = lineEnd < 0 ? QByteArrayView() : input.sliced(lineEnd + 1);
    const QByteArrayList fields = head.toByteArray().split('|');

    const KeywordFilter filter{fields.value(1), fields.value(0) == "1"};
    const QByteArray keyword = fields.value(2);
    KeywordQueue queue;
    for (qsizetype i = 3; i < fields.size(); ++i)
        queue.append(fields[i]);

    const pageparser::Harvest harvest = pageparser::parse(page, keyword, queue, filter);

    // Every harvested keyword is new, unique on the page, and passes the filter.
    QSet<QByteArray> seen;
    for (const QByteArray &candidate : harvest.keywords) {
        const QByteArray folded = text::foldCase(candidate);
        if (candidate.isEmpty() || queue.holds(candidate) || seen.contains(folded) ||
            candidate.contains("search"))
            abort();
        if (filter.mustContain && (filter.boxText.isEmpty() || !candidate.contains(filter.boxText)))
            abort();
        seen.insert(folded);
    }
    if (harvest.row) {
        const ResultRow &row = *harvest.row;
        if (row[1] != keyword || row[2] == "0" || row[4].isEmpty() || row[4].contains("head") ||
            row[5].contains("head"))
            abort();
        // The first listed item is the row's best seller.
        if (harvest.items.size() > pageparser::MaxListedItems ||
            (!harvest.items.isEmpty() &&
             (harvest.items[0].title != row[5] || harvest.items[0].price != row[4] ||
              harvest.items[0].sales != row[3])))
            abort();
    } else if (!harvest.items.isEmpty()) {
        abort();
    }
    return 0;
}
