#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>

#include <array>

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
    enum Column { Number, Keyword, ItemCount, Sales, Price, Description, ColumnCount };

    explicit ResultsModel(QObject *parent = nullptr);

    void addRow(const ResultRow &row);
    void clear();
    // Cell by position (0-based display order) and cell index.
    const QByteArray &cell(int position, int column) const { return m_rows[position][column]; }
    const ResultRow &row(int position) const { return m_rows[position]; }

    // The six header texts.
    static QList<QByteArray> headers();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<ResultRow> m_rows;
};
