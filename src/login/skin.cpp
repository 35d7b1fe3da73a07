#include "login/skin.h"

#include <QFile>
#include <QIcon>
#include <QWidget>

namespace skin {

namespace {
QString readStyleSheet()
{
    QFile file(QStringLiteral(":/skin/quillmarsh.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
} // namespace

void apply(QWidget *widget)
{
    static const QString sheet = readStyleSheet();
    widget->setStyleSheet(sheet);
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/quillmarsh-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace skin
