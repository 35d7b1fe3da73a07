#include "results/widgetsavefiledialog.h"

#include <QApplication>
#include <QFileDialog>

std::optional<QString> WidgetSaveFileDialog::askFileName(const QString &previousName)
{
    // An empty pattern list matches every file; hiding the details leaves the label ".csv".
    const QString name = QFileDialog::getSaveFileName(
        QApplication::activeWindow(), {}, previousName, QStringLiteral(".csv ()"), nullptr,
        QFileDialog::DontConfirmOverwrite | QFileDialog::HideNameFilterDetails);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}
