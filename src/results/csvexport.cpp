#include "results/csvexport.h"

#include "common/apperror.h"
#include "results/resultsmodel.h"

#include <QBuffer>
#include <QIODevice>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <charconv>
#include <numeric>

namespace csvexport {

namespace {

// Lines gather in a piece of this size before they go to the device.
constexpr qsizetype pieceBytes = 64 * 1024;

// GBK trail bytes start at 0x40, so these bytes only ever stand for themselves.
constexpr auto isSpecial = [] {
    std::array<bool, 256> table{};
    table[','] = table['"'] = table['\r'] = table['\n'] = true;
    return table;
}();

bool needsQuotes(QByteArrayView field)
{
    return std::any_of(field.begin(), field.end(),
                       [](char c) { return isSpecial[static_cast<unsigned char>(c)]; });
}

char *putField(char *at, QByteArrayView field)
{
    if (!needsQuotes(field))
        return std::copy(field.begin(), field.end(), at);
    *at++ = '"';
    for (const char c : field) {
        if (c == '"')
            *at++ = '"';
        *at++ = c;
    }
    *at++ = '"';
    return at;
}

} // namespace

QByteArray resultsCsv(const ResultsModel &results)
{
    QByteArray csv;
    QBuffer buffer(&csv);
    buffer.open(QIODevice::WriteOnly);
    writeCsv(&buffer, results);
    buffer.close();
    csv.squeeze();
    return csv;
}

void writeCsv(QIODevice *device, const ResultsModel &results)
{
    QList<int> positions(results.rowCount());
    std::iota(positions.begin(), positions.end(), 0);
    writeCsv(device, results, positions);
}

void writeCsv(QIODevice *device, const ResultsModel &results, const QList<int> &positions)
{
    QByteArray piece = ResultsModel::headers().join(',') + "\r\n";
    qsizetype used = piece.size();
    piece.resize(std::max(pieceBytes, used));
    for (const int position : positions) {
        std::array<QByteArrayView, ResultsModel::PageColumnCount> fields;
        // Room for the longest this line can get: the position, every field
        // quoted and made of quotes, CR LF. Lines are then written in place.
        qsizetype longest = 16;
        for (int column = ResultsModel::Keyword; column < ResultsModel::PageColumnCount; ++column) {
            fields[column] = results.cell(position, column);
            longest += 3 + 2 * fields[column].size();
        }
        if (piece.size() - used < longest) {
            write(device, QByteArrayView(piece).first(used));
            used = 0;
            piece.resize(std::max(piece.size(), longest));
        }
        char *at = piece.data() + used;
        at = std::to_chars(at, at + 12, position + 1).ptr;
        for (int column = ResultsModel::Keyword; column < ResultsModel::PageColumnCount; ++column) {
            *at++ = ',';
            at = putField(at, fields[column]);
        }
        *at++ = '\r';
        *at++ = '\n';
        used = at - piece.constData();
    }
    write(device, QByteArrayView(piece).first(used));
}

QByteArray csvLine(const QList<QByteArray> &fields)
{
    qsizetype longest = 2;
    for (const QByteArray &field : fields)
        longest += 3 + 2 * field.size();
    QByteArray line(longest, Qt::Uninitialized);
    char *at = line.data();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            *at++ = ',';
        at = putField(at, fields[i]);
    }
    *at++ = '\r';
    *at++ = '\n';
    line.truncate(at - line.constData());
    return line;
}

void write(QIODevice *device, QByteArrayView bytes)
{
    if (device->write(bytes.data(), bytes.size()) != bytes.size())
        throw AppError(device->errorString());
}

QString csvFileName(const QString &chosen)
{
    if (chosen.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QLatin1String(".csv");
}

void save(const QString &fileName, const std::function<void(QIODevice *)> &writeContent)
{
    QSaveFile file(fileName);
    try {
        // Unbuffered: Qt's commit() does not report a buffer flush that
        // fails (a full disk), and would put a cut file in place of the old.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw AppError(file.errorString());
        writeContent(&file);
        if (!file.commit())
            throw AppError(file.errorString());
    } catch (const AppError &reason) {
        throw fileError(QStringLiteral("Cannot create file"), fileName, reason.message());
    }
}

} // namespace csvexport
