#include "results/resultsmodel.h"

#include "results/derivedvalues.h"
#include "text/gbk.h"

#include <QCollator>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

namespace {

// Large enough that a long batch needs few chunks, small enough that a
// table of three rows does not notice one.
constexpr qsizetype chunkBytes = 256 * 1024;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int sign(double x)
{
    return x < 0 ? -1 : (x > 0 ? 1 : 0);
}

// The orders of the sort kinds. Each is made for one direction, turns
// a cell into a key once per sort and compares keys, so a sort reads every
// cell only once.

struct TextOrder
{
    using Key = QString;

    explicit TextOrder(bool ascending) : ascending(ascending)
    {
        collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    Key key(QByteArrayView cell) const { return text::fromGbk(cell); }
    int compare(const Key &a, const Key &b) const
    {
        const int result = sign(collator.compare(a, b));
        return ascending ? result : -result;
    }

    QCollator collator;
    bool ascending;
};

// Numbers and dates compare as one value, negated for a descending sort. A
// cell without one gets +infinity, after every value in either direction;
// two of them compare equal (infinity minus infinity is not a number).
using ValueKey = double;

ValueKey orientedValue(std::optional<double> value, bool ascending)
{
    if (!value)
        return std::numeric_limits<double>::infinity();
    return ascending ? *value : -*value;
}

int compareValues(ValueKey a, ValueKey b)
{
    return sign(a - b);
}

struct NumberOrder
{
    using Key = ValueKey;
    explicit NumberOrder(bool ascending) : ascending(ascending) {}
    Key key(QByteArrayView cell) const { return orientedValue(ResultsModel::numberIn(cell), ascending); }
    int compare(Key a, Key b) const { return compareValues(a, b); }

    bool ascending;
};

// Calls visit with the order of the kind.
template <typename Visit> void withOrder(ResultsModel::SortKind kind, bool ascending, Visit &&visit)
{
    switch (kind) {
    case ResultsModel::SortKind::Text:
        visit(TextOrder(ascending));
        break;
    case ResultsModel::SortKind::Numeric:
        visit(NumberOrder(ascending));
        break;
    }
}

// The listed items back to back, each field as its length (4 bytes, host
// order) followed by its bytes.
QByteArray packedItems(const QList<ListedItem> &items)
{
    qsizetype size = 0;
    for (const ListedItem &item : items)
        size += 3 * qsizetype(sizeof(quint32)) + item.title.size() + item.price.size() + item.sales.size();
    QByteArray packed(size, Qt::Uninitialized);
    char *at = packed.data();
    const auto put = [&at](const QByteArray &field) {
        const quint32 length = quint32(field.size());
        std::memcpy(at, &length, sizeof length);
        at = std::copy(field.begin(), field.end(), at + sizeof length);
    };
    for (const ListedItem &item : items) {
        put(item.title);
        put(item.price);
        put(item.sales);
    }
    return packed;
}

// A slot end kept in width bytes: 1, 2 or 4.
quint32 readEnd(const char *at, int width)
{
    quint8 byte;
    quint16 twoBytes;
    quint32 fourBytes;
    switch (width) {
    case 1:
        std::memcpy(&byte, at, sizeof byte);
        return byte;
    case 2:
        std::memcpy(&twoBytes, at, sizeof twoBytes);
        return twoBytes;
    default:
        std::memcpy(&fourBytes, at, sizeof fourBytes);
        return fourBytes;
    }
}

void writeEnd(char *at, int width, quint32 end)
{
    const quint8 byte = quint8(end);
    const quint16 twoBytes = quint16(end);
    switch (width) {
    case 1:
        std::memcpy(at, &byte, sizeof byte);
        break;
    case 2:
        std::memcpy(at, &twoBytes, sizeof twoBytes);
        break;
    default:
        std::memcpy(at, &end, sizeof end);
        break;
    }
}

bool isColumn(int column)
{
    return column >= 0 && column < ResultsModel::ColumnCount;
}

} // namespace

ResultsModel::ResultsModel(QObject *parent) : QAbstractTableModel(parent) {}

void ResultsModel::addRow(const ResultRow &row, const RowDetails &details)
{
    const derivedvalues::ListedValues listed = derivedvalues::listedValues(row, details);
    const QByteArray depth = QByteArray::number(details.depth);
    const QByteArray items = m_keepsListedItems ? packedItems(details.items) : QByteArray();
    const qint32 at = qint32(m_rows.size());
    // A sibling of the previous row shares its parent's bytes.
    const bool sharesParent = at > 0 && !details.parent.isEmpty() && cellOf(at - 1, Parent) == details.parent;
    std::array<QByteArrayView, SlotCount> slots;
    std::copy(row.begin(), row.end(), slots.begin());
    slots[TopThreeShareSlot] = listed.topThreeShare;
    slots[MedianPriceSlot] = listed.medianPrice;
    slots[TitleMatchesSlot] = listed.titleMatches;
    slots[DepthSlot] = depth;
    slots[ParentSlot] = sharesParent ? QByteArrayView() : QByteArrayView(details.parent);
    slots[ItemsSlot] = items;
    const StoredRow stored = store(slots, sharesParent ? m_rows[at - 1].parentRow : at);
    beginInsertRows({}, at, at);
    if (!m_order.isEmpty())
        m_order.append(at);
    m_rows.append(stored);
    endInsertRows();
}

void ResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_order.clear();
    m_chunks.clear();
    m_free = nullptr;
    m_freeBytes = 0;
    endResetModel();
}

ResultRow ResultsModel::row(int position) const
{
    ResultRow copy;
    for (int column = 0; column < PageColumnCount; ++column)
        copy[column] = cell(position, column).toByteArray();
    return copy;
}

QList<ListedItem> ResultsModel::listedItems(int position) const
{
    QByteArrayView packed = slotOf(m_rows[indexAt(position)], ItemsSlot);
    const auto field = [&packed] {
        quint32 size = 0;
        std::memcpy(&size, packed.data(), sizeof size);
        const QByteArray value = packed.sliced(sizeof size, size).toByteArray();
        packed = packed.sliced(sizeof size + size);
        return value;
    };
    QList<ListedItem> items;
    while (!packed.isEmpty()) {
        ListedItem item;
        item.title = field();
        item.price = field();
        item.sales = field();
        items.append(item);
    }
    return items;
}

QByteArrayView ResultsModel::cellOf(qsizetype index, int column) const
{
    const StoredRow &row = m_rows[index];
    switch (column) {
    case Opportunity:
        return m_workedOut[0] = derivedvalues::opportunity(slotOf(row, ItemCount), slotOf(row, Sales));
    case Revenue:
        return m_workedOut[1] = derivedvalues::revenue(slotOf(row, Sales), slotOf(row, Price));
    case Parent:
        return slotOf(m_rows[row.parentRow], ParentSlot);
    default:
        // The stored derived slots are in column order after the two worked out.
        return slotOf(row, column < PageColumnCount ? column : column - 2);
    }
}

QByteArrayView ResultsModel::slotOf(const StoredRow &row, int slot)
{
    const auto endOf = [&row](int s) {
        return s < 0 ? 0 : readEnd(row.record + s * row.endWidth, row.endWidth);
    };
    const char *const bytes = row.record + SlotCount * row.endWidth;
    const quint32 start = endOf(slot - 1);
    return QByteArrayView(bytes + start, endOf(slot) - start);
}

std::array<QByteArrayView, ResultsModel::SlotCount> ResultsModel::slotsOf(const StoredRow &row)
{
    std::array<QByteArrayView, SlotCount> slots;
    for (int slot = 0; slot < SlotCount; ++slot)
        slots[slot] = slotOf(row, slot);
    return slots;
}

ResultsModel::StoredRow ResultsModel::store(const std::array<QByteArrayView, SlotCount> &slots,
                                            qint32 parentRow)
{
    qsizetype bodySize = 0;
    for (const QByteArrayView slot : slots)
        bodySize += slot.size();
    const int endWidth = bodySize <= std::numeric_limits<quint8>::max()    ? 1
                         : bodySize <= std::numeric_limits<quint16>::max() ? 2
                                                                           : 4;
    const qsizetype size = SlotCount * endWidth + bodySize;
    if (size > m_freeBytes) {
        // A row larger than a chunk gets a chunk of its own size.
        m_freeBytes = std::max(chunkBytes, size);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(m_freeBytes));
        m_free = m_chunks.back().get();
    }
    const StoredRow stored{m_free, parentRow, quint8(endWidth)};
    char *at = m_free + SlotCount * endWidth;
    quint32 end = 0;
    for (int slot = 0; slot < SlotCount; ++slot) {
        at = std::copy(slots[slot].begin(), slots[slot].end(), at);
        end += quint32(slots[slot].size());
        writeEnd(m_free + slot * endWidth, endWidth, end);
    }
    m_free = at;
    m_freeBytes -= size;
    return stored;
}

QList<QByteArray> ResultsModel::headers()
{
    static const QList<QByteArray> texts = [] {
        QList<QByteArray> list;
        for (int column = 0; column < PageColumnCount; ++column)
            list.append(header(column));
        return list;
    }();
    return texts;
}

QByteArray ResultsModel::header(int column)
{
    static const QList<QByteArray> texts = [] {
        QList<QByteArray> list;
        for (const char *utf8 : {"序号", "关键词", "宝贝数量", "最高成交笔数", "成交价格", "宝贝描述",
                                 "机会指数", "成交额", "头部集中度", "中位价", "标题匹配", "层级", "来源词"})
            list.append(text::toGbk(QString::fromUtf8(utf8)));
        return list;
    }();
    return isColumn(column) ? texts[column] : QByteArray();
}

ResultsModel::SortKind ResultsModel::sortKindOf(int column)
{
    return column == Keyword || column == Description || column == Parent ? SortKind::Text
                                                                          : SortKind::Numeric;
}

QString ResultsModel::formulaOf(int column)
{
    switch (column) {
    case Opportunity:
        return QStringLiteral("机会指数 = 最高成交笔数 ÷ (宝贝数量 + 1)");
    case Revenue:
        return QStringLiteral("成交额 = 最高成交笔数 × 成交价格");
    case TopThreeShare:
        return QStringLiteral("头部集中度 = 前 3 件宝贝的成交笔数 ÷ 本页读到的宝贝（至多 10 件）的成交笔数；"
                              "后者为 0 时为空");
    case MedianPrice:
        return QStringLiteral("中位价 = 本页读到的有价格的宝贝的价格中位数（偶数件取中间两件的平均）");
    case TitleMatches:
        return QStringLiteral("标题匹配 = 本页读到的宝贝中标题含有关键词的件数");
    case Depth:
        return QStringLiteral("层级 = 种子词为 0，从某页得到的关键词比该页深一层");
    case Parent:
        return QStringLiteral("来源词 = 给出这个关键词的那一页的关键词");
    default:
        return {};
    }
}

void ResultsModel::sortByItemCount()
{
    sort(ItemCount, SortKind::Numeric, Qt::AscendingOrder);
}

void ResultsModel::sortBySales()
{
    sort(Sales, SortKind::Numeric, Qt::DescendingOrder);
}

void ResultsModel::sortByPrice()
{
    sort(Price, SortKind::Numeric, Qt::AscendingOrder);
}

void ResultsModel::sort(int column, Qt::SortOrder order)
{
    sort(column, sortKindOf(column), order);
}

void ResultsModel::sort(int column, SortKind kind, Qt::SortOrder order)
{
    if (!isColumn(column) || m_rows.size() < 2)
        return;
    withOrder(kind, order == Qt::AscendingOrder, [&](const auto &rowOrder) {
        using Key = typename std::decay_t<decltype(rowOrder)>::Key;
        // Keys in the order rows were added, which is the order they lie in memory.
        std::vector<Key> keys;
        keys.reserve(m_rows.size());
        for (qsizetype index = 0; index < m_rows.size(); ++index)
            keys.push_back(rowOrder.key(cellOf(index, column)));
        struct Entry
        {
            Key key;
            int position;
        };
        std::vector<Entry> entries;
        entries.reserve(m_rows.size());
        for (int position = 0; position < m_rows.size(); ++position)
            entries.push_back({std::move(keys[indexAt(position)]), position});
        std::stable_sort(entries.begin(), entries.end(),
                         [&](const Entry &a, const Entry &b) { return rowOrder.compare(a.key, b.key) < 0; });

        Q_EMIT layoutAboutToBeChanged({}, VerticalSortHint);
        QList<int> reordered(m_rows.size());
        std::vector<int> newPositions(entries.size());
        for (int position = 0; position < int(entries.size()); ++position) {
            reordered[position] = indexAt(entries[position].position);
            newPositions[entries[position].position] = position;
        }
        m_order = std::move(reordered);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex &index : from)
            to.append(this->index(newPositions[index.row()], index.column()));
        changePersistentIndexList(from, to);
        Q_EMIT layoutChanged({}, VerticalSortHint);
    });
    Q_EMIT sorted(column, order);
}

std::optional<double> ResultsModel::numberIn(QByteArrayView text)
{
    const char *const first = std::find_if(text.begin(), text.end(), isDigit);
    if (first == text.end())
        return std::nullopt;
    // GBK trail bytes are never digits, "," or ".", so Chinese text around
    // the number cannot extend it.
    quint64 mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    bool fraction = false;
    const char *end = first;
    for (; end != text.end(); ++end) {
        const bool digitFollows = end + 1 != text.end() && isDigit(end[1]);
        if (isDigit(*end)) {
            if (digits < 19)
                mantissa = mantissa * 10 + quint64(*end - '0');
            ++digits;
            fractionDigits += fraction ? 1 : 0;
        } else if (*end == '.' && !fraction && digitFollows) {
            fraction = true;
        } else if (*end != ',' || fraction || !digitFollows) {
            break;
        }
    }
    // Up to 15 digits the mantissa and the power of ten are exact doubles, so
    // one division rounds correctly: the same value as a full conversion.
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (digits <= 15)
        return double(mantissa) / powersOfTen[fractionDigits];
    std::string number;
    std::copy_if(first, end, std::back_inserter(number), [](char c) { return c != ','; });
    double value = 0;
    if (std::from_chars(number.data(), number.data() + number.size(), value).ec ==
        std::errc::result_out_of_range)
        return std::numeric_limits<double>::max();
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
    if (!index.isValid())
        return {};
    if (role == Qt::ToolTipRole && index.column() >= PageColumnCount)
        return formulaOf(index.column());
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return text::fromGbk(cell(index.row(), index.column()));
}

bool ResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // Only the number cell is editable, and only what is shown changes.
    if (!index.isValid() || index.column() != Number || role != Qt::EditRole)
        return false;
    StoredRow &row = m_rows[indexAt(index.row())];
    const QByteArray number = text::toGbk(value.toString());
    std::array<QByteArrayView, SlotCount> slots = slotsOf(row);
    slots[Number] = number;
    row = store(slots, row.parentRow);
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
    if (orientation != Qt::Horizontal || !isColumn(section))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return text::fromGbk(header(section));
    case Qt::ToolTipRole:
        return section >= PageColumnCount ? formulaOf(section) : QVariant();
    case Qt::InitialSortOrderRole:
        // A first click puts the seller's best first: fewest competing items,
        // lowest prices, text from A, otherwise the largest numbers.
        return section == ItemCount || section == Price || section == MedianPrice || section == Depth ||
                       sortKindOf(section) == SortKind::Text || section == Number
                   ? Qt::AscendingOrder
                   : Qt::DescendingOrder;
    default:
        return {};
    }
}
