// The CSV writer against a strict RFC 4180 reader: whatever bytes the cells
// hold, reading the file back gives the header and every row's six fields.
#include "results/csvexport.h"
#include "results/resultsmodel.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// Records of comma-separated fields, each record ended by CR LF. A field
// holding a comma, a quote, CR or LF must be quoted, with its quotes doubled;
// nothing else may follow a closing quote. Returns nothing on a breach.
std::optional<QList<QByteArrayList>> readCsv(QByteArrayView csv)
{
    QList<QByteArrayList> records;
    QByteArrayList record;
    qsizetype i = 0;
    while (i < csv.size()) {
        QByteArray field;
        if (csv[i] == '"') {
            for (++i;; ++i) {
                if (i >= csv.size())
                    return std::nullopt;
                if (csv[i] == '"') {
                    if (i + 1 < csv.size() && csv[i + 1] == '"') {
                        field += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += csv[i];
            }
        } else {
            for (; i < csv.size() && csv[i] != ',' && csv[i] != '\r'; ++i) {
                if (csv[i] == '"' || csv[i] == '\n')
                    return std::nullopt;
                field += csv[i];
            }
        }
        record.append(field);
        if (i < csv.size() && csv[i] == ',') {
            ++i;
            if (i == csv.size())
                return std::nullopt;
            continue;
        }
        if (i + 1 >= csv.size() || csv[i] != '\r' || csv[i + 1] != '\n')
            return std::nullopt;
        i += 2;
        records.append(std::exchange(record, {}));
    }
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Rows are separated by 0x1E and cells by 0x1F; missing cells are empty.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    ResultsModel results;
    QList<ResultRow> rows;
    for (const QByteArray &rowText : input.split('\x1e')) {
        const QByteArrayList cells = rowText.split('\x1f');
        ResultRow row;
        for (int column = 0; column < ResultsModel::PageColumnCount; ++column)
            row[column] = cells.value(column);
        results.addRow(row);
        rows.append(row);
    }

    const std::optional<QList<QByteArrayList>> read = readCsv(csvexport::resultsCsv(results));
    if (!read || read->size() != rows.size() + 1 || read->at(0) != ResultsModel::headers())
        abort();
    for (qsizetype position = 0; position < rows.size(); ++position) {
        QByteArrayList expected{QByteArray::number(position + 1)};
        for (int column = ResultsModel::Keyword; column < ResultsModel::PageColumnCount; ++column)
            expected.append(rows[position][column]);
        if (read->at(position + 1) != expected)
            abort();
    }
    return 0;
}
