#pragma once

#include <QIdentityProxyModel>

// The results table as the view shows it: the core model's texts with the
// column colours (number black, keyword green, item count navy, the rest
// gray), every column left-aligned.
class ResultsColourProxy final : public QIdentityProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsColourProxy)

public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
};
