#include "results/tableexport.h"

#include "common/apperror.h"
#include "results/csvexport.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QFile>
#include <QIODevice>
#include <QLibrary>
#include <QTemporaryDir>
#include <algorithm>
#include <charconv>
#include <numeric>
#include <type_traits>
#include <xlsxwriter.h>

namespace tableexport {

namespace {

// Lines gather in a piece of this size before they go to the device.
constexpr qsizetype pieceBytes = 64 * 1024;

QString cellText(const ResultsModel &results, int position, int column)
{
    return text::fromGbk(results.cell(position, column));
}

// A field quoted as RFC 4180 asks when it holds a comma, quote, CR or LF.
QString csvField(const QString &cell)
{
    const QString safe = formulaSafe(cell);
    if (!safe.contains(QLatin1Char(',')) && !safe.contains(QLatin1Char('"')) &&
        !safe.contains(QLatin1Char('\r')) && !safe.contains(QLatin1Char('\n')))
        return safe;
    QString quoted = safe;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

class PieceWriter
{
public:
    explicit PieceWriter(QIODevice *device) : m_device(device) { m_piece.reserve(pieceBytes + 4096); }
    ~PieceWriter() = default;
    Q_DISABLE_COPY_MOVE(PieceWriter)

    void append(QByteArrayView bytes)
    {
        m_piece.append(bytes);
        if (m_piece.size() >= pieceBytes)
            flush();
    }
    void flush()
    {
        csvexport::write(m_device, m_piece);
        m_piece.clear();
    }

private:
    QIODevice *m_device;
    QByteArray m_piece;
};

// A JSON string of UTF-8 bytes: quotes, backslashes and control characters escaped.
void appendJsonString(QByteArray &out, QByteArrayView utf8)
{
    out.append('"');
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\').append(c);
        } else if (byte < 0x20) {
            static constexpr char hex[] = "0123456789abcdef";
            out.append("\\u00").append(hex[byte >> 4]).append(hex[byte & 0xF]);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

// The cell's number as the sort reads it, or null.
void appendJsonNumber(QByteArray &out, QByteArrayView cell)
{
    const std::optional<double> value = ResultsModel::numberIn(cell);
    if (!value) {
        out.append("null");
        return;
    }
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, *value).ptr;
    out.append(digits, end - digits);
}

void appendJsonText(QByteArray &out, QByteArrayView gbkCell)
{
    appendJsonString(out, text::fromGbk(gbkCell).toUtf8());
}

// A cell holding exactly a number (digits with at most one "." between them).
bool isPlainNumber(QByteArrayView cell)
{
    if (cell.isEmpty() || cell.front() == '.' || cell.back() == '.')
        return false;
    return std::count(cell.begin(), cell.end(), '.') <= 1 &&
           std::all_of(cell.begin(), cell.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// libxlsxwriter, loaded at the first workbook written rather than with the
// program: it brings OpenSSL's libcrypto along, whose start-up alone keeps
// about 1.5 MB resident, and most batches never write a workbook.
struct XlsxWriter
{
    decltype(&::workbook_new_opt) workbook_new_opt = nullptr;
    decltype(&::workbook_add_worksheet) workbook_add_worksheet = nullptr;
    decltype(&::workbook_add_format) workbook_add_format = nullptr;
    decltype(&::format_set_bold) format_set_bold = nullptr;
    decltype(&::worksheet_write_string) worksheet_write_string = nullptr;
    decltype(&::worksheet_write_number) worksheet_write_number = nullptr;
    decltype(&::worksheet_set_column) worksheet_set_column = nullptr;
    decltype(&::worksheet_freeze_panes) worksheet_freeze_panes = nullptr;
    decltype(&::workbook_close) workbook_close = nullptr;
    decltype(&::lxw_strerror) lxw_strerror = nullptr;
    QString problem; // why the library is missing; empty once loaded

    // Throws AppError when the library cannot be loaded.
    static const XlsxWriter &loaded()
    {
        static const XlsxWriter writer = [] {
            XlsxWriter functions;
            // Never unloaded: a QLibrary going away leaves the library loaded.
            QLibrary library(QStringLiteral("xlsxwriter"), 4);
            const auto resolve = [&library, &functions](auto &function, const char *name) {
                function =
                    reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
                if (!function && functions.problem.isEmpty())
                    functions.problem = library.errorString();
            };
            resolve(functions.workbook_new_opt, "workbook_new_opt");
            resolve(functions.workbook_add_worksheet, "workbook_add_worksheet");
            resolve(functions.workbook_add_format, "workbook_add_format");
            resolve(functions.format_set_bold, "format_set_bold");
            resolve(functions.worksheet_write_string, "worksheet_write_string");
            resolve(functions.worksheet_write_number, "worksheet_write_number");
            resolve(functions.worksheet_set_column, "worksheet_set_column");
            resolve(functions.worksheet_freeze_panes, "worksheet_freeze_panes");
            resolve(functions.workbook_close, "workbook_close");
            resolve(functions.lxw_strerror, "lxw_strerror");
            return functions;
        }();
        if (!writer.problem.isEmpty())
            throw AppError(
                QStringLiteral("The spreadsheet library could not be loaded: %1").arg(writer.problem));
        return writer;
    }
};

void writeXlsxFile(const QString &path, const ResultsModel &results, const QList<int> &positions)
{
    const XlsxWriter &xlsx = XlsxWriter::loaded();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go straight to disk in order
    const QByteArray nativePath = QFile::encodeName(path);
    lxw_workbook *workbook = xlsx.workbook_new_opt(nativePath.constData(), &options);
    if (!workbook)
        throw AppError(QStringLiteral("The spreadsheet could not be started"));
    lxw_worksheet *sheet = xlsx.workbook_add_worksheet(workbook, nullptr);
    lxw_format *bold = xlsx.workbook_add_format(workbook);
    xlsx.format_set_bold(bold);

    // Widths in characters: wide enough for the header and the longest cell,
    // CJK characters counting double, never wider than a screenful.
    std::vector<double> widths(ResultsModel::ColumnCount, 6);
    const auto widen = [&widths](int column, const QString &textShown) {
        double width = 0;
        for (const QChar c : textShown)
            width += c.unicode() >= 0x2E80 ? 2 : 1;
        widths[column] = std::min(60.0, std::max(widths[column], width + 2));
    };
    for (int column = 0; column < ResultsModel::ColumnCount; ++column) {
        const QString header = text::fromGbk(ResultsModel::header(column));
        widen(column, header);
        xlsx.worksheet_write_string(sheet, 0, lxw_col_t(column), header.toUtf8().constData(), bold);
    }
    lxw_row_t row = 1;
    for (const int position : positions) {
        for (int column = 0; column < ResultsModel::ColumnCount; ++column) {
            const QByteArrayView cell = results.cell(position, column);
            if (cell.isEmpty())
                continue;
            const QString shown = text::fromGbk(cell);
            widen(column, shown);
            // A string cell never runs as a formula, whatever it starts with.
            if (ResultsModel::sortKindOf(column) == ResultsModel::SortKind::Numeric && isPlainNumber(cell))
                xlsx.worksheet_write_number(sheet, row, lxw_col_t(column), *ResultsModel::numberIn(cell),
                                            nullptr);
            else
                xlsx.worksheet_write_string(sheet, row, lxw_col_t(column), shown.toUtf8().constData(),
                                            nullptr);
        }
        ++row;
    }
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
        xlsx.worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), widths[column], nullptr);
    xlsx.worksheet_freeze_panes(sheet, 1, 0);
    const lxw_error closed = xlsx.workbook_close(workbook);
    if (closed != LXW_NO_ERROR)
        throw AppError(QString::fromUtf8(xlsx.lxw_strerror(closed)));
}

} // namespace

std::optional<Format> formatNamed(const QString &name)
{
    if (name == QLatin1String("csv"))
        return Format::Csv;
    if (name == QLatin1String("csv-utf8"))
        return Format::Utf8Csv;
    if (name == QLatin1String("xlsx"))
        return Format::Xlsx;
    if (name == QLatin1String("json"))
        return Format::Json;
    return std::nullopt;
}

QString fileSuffix(Format format)
{
    switch (format) {
    case Format::Xlsx:
        return QStringLiteral(".xlsx");
    case Format::Json:
        return QStringLiteral(".json");
    default:
        return QStringLiteral(".csv");
    }
}

QString fileNameFor(Format format, const QString &chosen)
{
    const QString suffix = fileSuffix(format);
    return chosen.endsWith(suffix, Qt::CaseInsensitive) ? chosen : chosen + suffix;
}

QList<int> allPositions(const ResultsModel &results)
{
    QList<int> positions(results.rowCount());
    std::iota(positions.begin(), positions.end(), 0);
    return positions;
}

QString formulaSafe(const QString &cell)
{
    if (cell.isEmpty())
        return cell;
    const QChar first = cell.front();
    if (first != QLatin1Char('=') && first != QLatin1Char('+') && first != QLatin1Char('-') &&
        first != QLatin1Char('@') && first != QLatin1Char('\t') && first != QLatin1Char('\r'))
        return cell;
    const QByteArray latin = cell.sliced(1).toLatin1();
    if ((first == QLatin1Char('-') || first == QLatin1Char('+')) && isPlainNumber(latin) &&
        latin.size() == cell.size() - 1)
        return cell;
    return QLatin1Char('\'') + cell;
}

void writeUtf8Csv(QIODevice *device, const ResultsModel &results, const QList<int> &positions)
{
    PieceWriter out(device);
    QString line;
    for (int column = 0; column < ResultsModel::ColumnCount; ++column) {
        if (column > 0)
            line += QLatin1Char(',');
        line += csvField(text::fromGbk(ResultsModel::header(column)));
    }
    out.append("\xEF\xBB\xBF");
    out.append((line + QLatin1String("\r\n")).toUtf8());
    for (const int position : positions) {
        line.clear();
        for (int column = 0; column < ResultsModel::ColumnCount; ++column) {
            if (column > 0)
                line += QLatin1Char(',');
            line += csvField(cellText(results, position, column));
        }
        line += QLatin1String("\r\n");
        out.append(line.toUtf8());
    }
    out.flush();
}

void writeJson(QIODevice *device, const ResultsModel &results, const QList<int> &positions)
{
    PieceWriter out(device);
    QByteArray object;
    out.append("[");
    bool first = true;
    for (const int position : positions) {
        object.clear();
        object.append(first ? "\n" : ",\n");
        first = false;
        const auto number = [&](const char *key, int column) {
            object.append(key);
            appendJsonNumber(object, results.cell(position, column));
        };
        object.append("{\"position\":").append(QByteArray::number(position + 1));
        object.append(",\"keyword\":");
        appendJsonText(object, results.cell(position, ResultsModel::Keyword));
        number(",\"items\":", ResultsModel::ItemCount);
        number(",\"sales\":", ResultsModel::Sales);
        number(",\"price\":", ResultsModel::Price);
        object.append(",\"title\":");
        appendJsonText(object, results.cell(position, ResultsModel::Description));
        number(",\"opportunity\":", ResultsModel::Opportunity);
        number(",\"revenue\":", ResultsModel::Revenue);
        number(",\"top3_share\":", ResultsModel::TopThreeShare);
        number(",\"median_price\":", ResultsModel::MedianPrice);
        number(",\"title_matches\":", ResultsModel::TitleMatches);
        number(",\"depth\":", ResultsModel::Depth);
        object.append(",\"parent\":");
        if (const QByteArrayView parent = results.cell(position, ResultsModel::Parent); parent.isEmpty())
            object.append("null");
        else
            appendJsonText(object, parent);
        object.append(",\"top_items\":[");
        const QList<ListedItem> items = results.listedItems(position);
        for (qsizetype i = 0; i < items.size(); ++i) {
            object.append(i == 0 ? "{\"title\":" : ",{\"title\":");
            appendJsonText(object, items[i].title);
            object.append(",\"price\":");
            appendJsonNumber(object, items[i].price);
            object.append(",\"sales\":");
            appendJsonNumber(object, items[i].sales);
            object.append('}');
        }
        object.append("]}");
        out.append(object);
    }
    out.append(first ? "]\n" : "\n]\n");
    out.flush();
}

void save(const QString &fileName, Format format, const ResultsModel &results, const QList<int> &positions)
{
    if (format != Format::Xlsx) {
        csvexport::save(fileName, [&](QIODevice *file) {
            if (format == Format::Csv)
                csvexport::writeCsv(file, results, positions);
            else if (format == Format::Utf8Csv)
                writeUtf8Csv(file, results, positions);
            else
                writeJson(file, results, positions);
        });
        return;
    }
    // The library writes only to a named file: build it aside, then put it in
    // place through the same atomic save.
    QTemporaryDir scratch;
    const QString built = scratch.filePath(QStringLiteral("table.xlsx"));
    csvexport::save(fileName, [&](QIODevice *file) {
        if (!scratch.isValid())
            throw AppError(scratch.errorString());
        writeXlsxFile(built, results, positions);
        QFile workbook(built);
        if (!workbook.open(QIODevice::ReadOnly))
            throw AppError(workbook.errorString());
        csvexport::write(file, workbook.readAll());
    });
}

} // namespace tableexport
