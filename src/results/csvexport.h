#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>

class QIODevice;
class ResultsModel;

// The results table as a CSV file: GBK bytes without a byte-order mark, CR LF
// after every line, the six headers, then one line per row in display order
// numbered by position (1 for the top row), not by the row's own number.
// A field holding a comma, a double quote, CR or LF is quoted with its quotes
// doubled; every other field is written byte for byte.
namespace csvexport {

QByteArray resultsCsv(const ResultsModel &results);

// Writes the same bytes to an open device a piece at a time, so that a large
// table is never held twice; throws AppError like write().
void writeCsv(QIODevice *device, const ResultsModel &results);
// Only the rows at the given positions, each numbered by its position.
void writeCsv(QIODevice *device, const ResultsModel &results, const QList<int> &positions);

// Writes all of bytes to an open device; throws AppError with the device's
// reason when it takes less.
void write(QIODevice *device, QByteArrayView bytes);

// The name the file is saved under: ".csv" is added unless the chosen name
// already ends in it, in any letter case.
QString csvFileName(const QString &chosen);

// Replaces the file atomically with what writeContent writes to it: on
// failure an existing file keeps its old content. Throws AppError
// "Cannot create file "<absolute name>". <reason>".
void save(const QString &fileName, const std::function<void(QIODevice *)> &writeContent);

} // namespace csvexport
