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

    void addRow(const ResultRow &row);
    void clear();
    // Cell by position (0-based display order) and cell index. The bytes stay
    // valid until the model next changes.
    QByteArrayView cell(int position, int column) const { return cellOf(m_rows[m_order[position]], column); }
    // A copy of the row at a position.
    ResultRow row(int position) const;

    // The six header texts.
    static QList<QByteArray> headers();

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

private:
    // A row's six cells lie back to back in one chunk; ends[c] is where cell c
    // stops, counted from bytes. Rows never move, so a table of a hundred
    // thousand rows costs its bytes plus this entry, not six heap blocks.
    struct StoredRow
    {
        const char *bytes;
        std::array<quint32, ColumnCount> ends;
    };

    static QByteArrayView cellOf(const StoredRow &row, int column)
    {
        const quint32 start = column == 0 ? 0 : row.ends[column - 1];
        return QByteArrayView(row.bytes + start, row.ends[column] - start);
    }
    // Copies the cells into the chunks.
    StoredRow store(const std::array<QByteArrayView, ColumnCount> &cells);

    // Chunks only ever get added, so growing the table never copies a row.
    // An edited row is stored anew; its old bytes stay until clear().
    std::vector<std::unique_ptr<char[]>> m_chunks;
    char *m_free = nullptr; // the unused end of the last chunk
    qsizetype m_freeBytes = 0;
    // Rows stay where they were added; a sort rewrites only the display
    // order, so it moves one index per row and never a row.
    QList<StoredRow> m_rows;
    QList<int> m_order; // display position -> index in m_rows
};
