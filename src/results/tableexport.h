#pragma once

#include <QList>
#include <QString>
#include <optional>

class QIODevice;
class ResultsModel;

// The 导出… formats: every column of the table for other programs, beside
// the six-column GBK CSV of 保存结果 (results/csvexport.h). Rows are given as
// positions in the table's display order, so "all rows" and "only the rows a
// view filter shows" go through the same writers.
namespace tableexport {

enum class Format
{
    Csv,     // the six columns as 保存结果 writes them
    Utf8Csv, // every column, UTF-8 with a byte-order mark, CR LF
    Xlsx,    // every column, numbers as numeric cells
    Json     // one array, one object per row
};

// "csv", "csv-utf8", "xlsx" or "json".
std::optional<Format> formatNamed(const QString &name);
// The file name ending the format's files carry: ".csv", ".xlsx", ".json".
QString fileSuffix(Format format);
// The name with the format's ending added unless it has it already (any case).
QString fileNameFor(Format format, const QString &chosen);

// Every position of the table, top to bottom.
QList<int> allPositions(const ResultsModel &results);

// A cell that a spreadsheet would read as a formula ("=", "+", "-", "@",
// tab or CR first) gets a leading apostrophe; a plain number such as "-5"
// is left alone.
QString formulaSafe(const QString &cell);

// Throw AppError with the device's reason when a write fails.
void writeUtf8Csv(QIODevice *device, const ResultsModel &results, const QList<int> &positions);
void writeJson(QIODevice *device, const ResultsModel &results, const QList<int> &positions);

// Writes the file atomically in any format (an old file survives a failure).
// Throws AppError "Cannot create file "<name>". <reason>".
void save(const QString &fileName, Format format, const ResultsModel &results, const QList<int> &positions);

} // namespace tableexport
