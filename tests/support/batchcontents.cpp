#include "batchcontents.h"

#include "query/keywordqueue.h"
#include "results/resultsmodel.h"

namespace testsupport {

QList<QByteArrayList> tableRows(const ResultsModel &results)
{
    QList<QByteArrayList> rows;
    for (int i = 0; i < results.rowCount(); ++i) {
        const ResultRow row = results.row(i);
        rows.append(QByteArrayList(row.begin(), row.end()));
    }
    return rows;
}

QByteArrayList queueLines(const KeywordQueue &queue)
{
    QByteArrayList lines;
    for (int i = 0; i < queue.count(); ++i)
        lines.append(queue.line(i));
    return lines;
}

} // namespace testsupport
