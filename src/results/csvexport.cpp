#include "results/csvexport.h"

#include "app/apperror.h"
#include "results/resultsmodel.h"

#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <charconv>

namespace csvexport {

namespace {

// GBK trail bytes start at 0x40, so these bytes only ever stand for themselves.
bool needsQuotes(const QByteArray &field)
{
    for (const char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

void appendField(QByteArray &out, const QByteArray &field)
{
    if (!needsQuotes(field)) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

QByteArray resultsCsv(const ResultsModel &results)
{
    const int rows = results.rowCount();
    qsizetype size = 64;
    for (int position = 0; position < rows; ++position) {
        for (const QByteArray &cell : results.row(position))
            size += cell.size() + 1;
        size += 12;
    }
    QByteArray out;
    out.reserve(size);
    out += ResultsModel::headers().join(',');
    out += "\r\n";
    for (int position = 0; position < rows; ++position) {
        char number[16];
        const auto end = std::to_chars(number, number + sizeof number, position + 1).ptr;
        out.append(number, end - number);
        for (int column = ResultsModel::Keyword; column < ResultsModel::ColumnCount; ++column) {
            out += ',';
            appendField(out, results.cell(position, column));
        }
        out += "\r\n";
    }
    return out;
}

void write(QIODevice *device, const QByteArray &csv)
{
    if (device->write(csv) != csv.size())
        throw AppError(device->errorString());
}

QString csvFileName(const QString &chosen)
{
    if (chosen.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QLatin1String(".csv");
}

void save(const QString &fileName, const QByteArray &csv)
{
    QSaveFile file(fileName);
    try {
        // Unbuffered: Qt's commit() does not report a buffer flush that
        // fails (a full disk), and would put a cut file in place of the old.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw AppError(file.errorString());
        csvexport::write(&file, csv);
        if (!file.commit())
            throw AppError(file.errorString());
    } catch (const AppError &reason) {
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2")
                           .arg(QFileInfo(fileName).absoluteFilePath(), reason.message()));
    }
}

} // namespace csvexport
