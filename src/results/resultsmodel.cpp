#include "results/resultsmodel.h"

#include "text/gbk.h"

#include <QCollator>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <limits>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The orders of the three sort kinds. Each turns a cell into a key once per
// sort and compares keys, so a sort reads every cell only once.

struct TextOrder
{
    using Key = QString;

    TextOrder() { collator.setCaseSensitivity(Qt::CaseInsensitive); }
    Key key(const QByteArray &cell) const { return text::fromGbk(cell); }
    int compare(const Key &a, const Key &b, bool ascending) const
    {
        const int result = ResultsModel::comparesign(collator.compare(a, b));
        return ascending ? result : -result;
    }

    QCollator collator;
};

// Numbers and dates both compare as one value; a cell without one goes last.
using ValueKey = std::optional<double>;

int compareValues(const ValueKey &a, const ValueKey &b, bool ascending)
{
    if (!a || !b)
        return int(!a) - int(!b);
    const int result = ResultsModel::comparesign(*a - *b);
    return ascending ? result : -result;
}

struct NumberOrder
{
    using Key = ValueKey;
    Key key(const QByteArray &cell) const { return ResultsModel::numberIn(cell); }
    int compare(const Key &a, const Key &b, bool ascending) const { return compareValues(a, b, ascending); }
};

struct DateTimeOrder
{
    using Key = ValueKey;
    Key key(const QByteArray &cell) const
    {
        const QDateTime value = locale.toDateTime(text::fromGbk(cell), QLocale::ShortFormat);
        return value.isValid() ? Key(double(value.toMSecsSinceEpoch())) : std::nullopt;
    }
    int compare(const Key &a, const Key &b, bool ascending) const { return compareValues(a, b, ascending); }

    QLocale locale = QLocale::system();
};

// Calls visit with the order of the kind; does nothing for an unknown kind,
// under which all rows compare equal.
template <typename Visit> void withOrder(quint8 kind, Visit &&visit)
{
    switch (kind) {
    case ResultsModel::TextKind:
        visit(TextOrder());
        break;
    case ResultsModel::NumericKind:
        visit(NumberOrder());
        break;
    case ResultsModel::DateTimeKind:
        visit(DateTimeOrder());
        break;
    default:
        break;
    }
}

bool isColumn(int column)
{
    return column >= 0 && column < ResultsModel::ColumnCount;
}

} // namespace

ResultsModel::ResultsModel(QObject *parent) : QAbstractTableModel(parent) {}

void ResultsModel::addRow(const ResultRow &row)
{
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.append(row);
    endInsertRows();
}

void ResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QList<QByteArray> ResultsModel::headers()
{
    static const QList<QByteArray> texts = [] {
        QList<QByteArray> list;
        for (const char *utf8 : {"序号", "关键词", "宝贝数量", "最高成交笔数", "成交价格", "宝贝描述"})
            list.append(text::toGbk(QString::fromUtf8(utf8)));
        return list;
    }();
    return texts;
}

void ResultsModel::sortByItemCount()
{
    sortlist(ItemCount, NumericKind, 1);
}

void ResultsModel::sortBySales()
{
    sortlist(Sales, NumericKind, 0);
}

void ResultsModel::sortByPrice()
{
    sortlist(Price, NumericKind, 1);
}

void ResultsModel::sortlist(int column, quint8 kind, quint8 ascending)
{
    if (!isColumn(column) || m_rows.size() < 2)
        return;
    withOrder(kind, [&](const auto &order) {
        using Key = typename std::decay_t<decltype(order)>::Key;
        struct Entry
        {
            Key key;
            qsizetype position;
        };
        std::vector<Entry> entries;
        entries.reserve(m_rows.size());
        for (qsizetype position = 0; position < m_rows.size(); ++position)
            entries.push_back({order.key(m_rows[position][column]), position});
        std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
            return order.compare(a.key, b.key, ascending != 0) < 0;
        });
        std::vector<qsizetype> oldPositions;
        oldPositions.reserve(entries.size());
        for (const Entry &entry : entries)
            oldPositions.push_back(entry.position);
        reorder(oldPositions);
    });
}

void ResultsModel::reorder(const std::vector<qsizetype> &oldPositions)
{
    Q_EMIT layoutAboutToBeChanged({}, VerticalSortHint);
    QList<ResultRow> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPositions(oldPositions.size());
    for (qsizetype position = 0; position < qsizetype(oldPositions.size()); ++position) {
        sorted.append(std::move(m_rows[oldPositions[position]]));
        newPositions[oldPositions[position]] = int(position);
    }
    m_rows = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(this->index(newPositions[index.row()], index.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, VerticalSortHint);
}

int ResultsModel::sortproc(const ResultRow &a, const ResultRow &b, const SortParameters &parameters)
{
    int result = 0;
    if (isColumn(parameters.column)) {
        withOrder(parameters.kind, [&](const auto &order) {
            result = order.compare(order.key(a[parameters.column]), order.key(b[parameters.column]),
                                   parameters.ascending != 0);
        });
    }
    return result;
}

QByteArray ResultsModel::getnum(QByteArrayView text)
{
    QByteArray digits;
    for (const char c : text) {
        if (isDigit(c))
            digits.append(c);
    }
    return digits;
}

int ResultsModel::comparesign(double x)
{
    return x < 0 ? -1 : (x > 0 ? 1 : 0);
}

std::optional<double> ResultsModel::numberIn(QByteArrayView text)
{
    const auto first = std::find_if(text.begin(), text.end(), isDigit);
    if (first == text.end())
        return std::nullopt;
    // GBK trail bytes are never digits, "," or ".", so Chinese text around
    // the number cannot extend it.
    std::string number;
    bool fraction = false;
    for (auto at = first; at != text.end(); ++at) {
        const bool digitFollows = at + 1 != text.end() && isDigit(at[1]);
        if (isDigit(*at))
            number += *at;
        else if (*at == ',' && !fraction && digitFollows)
            continue;
        else if (*at == '.' && !fraction && digitFollows) {
            fraction = true;
            number += '.';
        } else
            break;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    Q_UNUSED(end)
    if (error == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    return value;
}

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return text::fromGbk(m_rows[index.row()][index.column()]);
}

bool ResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // Only the number cell is editable, and only what is shown changes.
    if (!index.isValid() || index.column() != Number || role != Qt::EditRole)
        return false;
    m_rows[index.row()][Number] = text::toGbk(value.toString());
    Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == Number)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return text::fromGbk(headers()[section]);
}
