#include "results/resultsmodel.h"

#include "text/gbk.h"

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
