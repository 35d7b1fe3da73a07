#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// One result row: number, keyword, item count, highest sales, price,
// description, as GBK bytes. The number is given when the row is added and
// never changes.
using ResultRow = std::array<QByteArray, 6>;

// One item a result page lists, cut by the markers that give the row's
// sales, price and description.
struct ListedItem
{
    QByteArray title;
    QByteArray price;
    QByteArray sales;

    bool operator==(const ListedItem &) const = default;
};

// What a row's page told beyond its six cells: the first items it lists
// (best seller first), and where the keyword came from.
struct RowDetails
{
    QList<ListedItem> items;
    int depth = 0;     // 0 for the seed, one more than the page that gave it
    QByteArray parent; // the keyword of that page, empty for the seed
};

// The results table in display order. Core holds the texts; the view adds
// colours and fonts.
class ResultsModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsModel)

public:
    enum Column
    {
        Number,
        Keyword,
        ItemCount,
        Sales,
        Price,
        Description,
        // The six cells above are the row as 保存结果 writes it; the values
        // below are worked out from them and the page's listed items.
        PageColumnCount,
        Opportunity = PageColumnCount,
        Revenue,
        TopThreeShare,
        MedianPrice,
        TitleMatches,
        Depth,
        Parent,
        ColumnCount
    };
    // How two cells compare: text by the locale with letter case ignored,
    // numbers by numberIn.
    enum class SortKind : quint8
    {
        Text,
        Numeric,
    };

    explicit ResultsModel(QObject *parent = nullptr);

    void addRow(const ResultRow &row, const RowDetails &details = {});
    void clear();
    // Whether rows keep their listed items (on by default). A front end that
    // never exports them may save the memory; derived values are computed
    // either way.
    void setKeepsListedItems(bool keeps) { m_keepsListedItems = keeps; }
    // Cell by position (0-based display order) and cell index. The bytes stay
    // valid until the model next changes; opportunity and revenue are worked
    // out from the row's cells when read, and their bytes stay only until that
    // column is read again.
    QByteArrayView cell(int position, int column) const { return cellOf(indexAt(position), column); }
    // A copy of the row's six cells read from its page at a position.
    ResultRow row(int position) const;
    // The items the row's page listed, as far as they are kept.
    QList<ListedItem> listedItems(int position) const;

    // The six header texts of 保存结果.
    static QList<QByteArray> headers();
    // Any column's header text.
    static QByteArray header(int column);
    // How a column's cells compare when its header is clicked.
    static SortKind sortKindOf(int column);
    // What a derived column holds and how it is worked out; empty for the six.
    static QString formulaOf(int column);

    // The sort commands of the tool row. Rows move with their numbers; a row
    // added afterwards goes to the bottom.
    void sortByItemCount(); // fewest items first
    void sortBySales();     // most sales first
    void sortByPrice();     // lowest price first

    // Reorders all rows by the column's cells; rows that compare equal keep
    // their order. A cell without a number goes after all that have one,
    // whichever the direction.
    using QAbstractTableModel::sort;
    void sort(int column, SortKind kind, Qt::SortOrder order);
    // A header click: the column's own kind.
    void sort(int column, Qt::SortOrder order) override;
    // The first decimal number in the text: "," between digit groups is
    // skipped, one "." starts the fraction, a sign is not read ("-5" is 5).
    // One too large for a double reads as the largest double. None when the
    // text holds no digit.
    static std::optional<double> numberIn(QByteArrayView text);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // After every sort that reordered the rows.
    void sorted(int column, Qt::SortOrder order);

private:
    // What a row keeps as bytes: the six cells read from the page, the derived values
    // that need the listed items, its depth and its parent, then the packed
    // items. Opportunity and revenue follow from those six cells.
    enum Slot
    {
        TopThreeShareSlot = PageColumnCount,
        MedianPriceSlot,
        TitleMatchesSlot,
        DepthSlot,
        ParentSlot,
        ItemsSlot,
        SlotCount
    };
    // A row's record in a chunk: where each slot ends, counted from the
    // bytes after these ends (each in one byte, or in two or four when the
    // slots take more than 255 or 65,535 bytes), then the slots back to back. Rows never move, so a table of
    // a hundred thousand rows costs its bytes plus this entry, not a heap block per cell.
    struct StoredRow
    {
        const char *record;
        // The row whose record holds this row's parent: itself, or an earlier
        // sibling with the same parent, since siblings arrive one after another.
        qint32 parentRow;
        quint8 endWidth; // bytes per slot end
    };

    // Cell by index in m_rows.
    QByteArrayView cellOf(qsizetype index, int column) const;
    static QByteArrayView slotOf(const StoredRow &row, int slot);
    // Copies the slots into the chunks.
    StoredRow store(const std::array<QByteArrayView, SlotCount> &slots, qint32 parentRow);
    static std::array<QByteArrayView, SlotCount> slotsOf(const StoredRow &row);

    // Chunks only ever get added, so growing the table never copies a row.
    // An edited row is stored anew; its old bytes stay until clear().
    std::vector<std::unique_ptr<char[]>> m_chunks;
    char *m_free = nullptr; // the unused end of the last chunk
    qsizetype m_freeBytes = 0;
    // Rows stay where they were added; a sort rewrites only the display
    // order, so it moves one index per row and never a row.
    QList<StoredRow> m_rows;
    // Display position -> index in m_rows; empty while the rows stand in the
    // order they were added, so a batch that is never sorted does without it.
    QList<int> m_order;
    int indexAt(int position) const { return m_order.isEmpty() ? position : m_order[position]; }
    bool m_keepsListedItems = true;
    // The last opportunity and revenue read, which cell() gives views of.
    mutable std::array<QByteArray, 2> m_workedOut;
};
