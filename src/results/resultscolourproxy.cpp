#include "results/resultscolourproxy.h"

#include "results/resultsmodel.h"

#include <QColor>

namespace {

QColor columnColour(int column)
{
    switch (column) {
    case ResultsModel::Number:
        return Qt::black;
    case ResultsModel::Keyword:
        return QColor(0, 128, 0);
    case ResultsModel::ItemCount:
        return QColor(0, 0, 128);
    default:
        return QColor(128, 128, 128);
    }
}

constexpr Qt::Alignment leftAligned = Qt::AlignLeft | Qt::AlignVCenter;

} // namespace

QVariant ResultsColourProxy::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::ForegroundRole)
        return columnColour(index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(leftAligned);
    return QIdentityProxyModel::data(index, role);
}

QVariant ResultsColourProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(leftAligned);
    return QIdentityProxyModel::headerData(section, orientation, role);
}
