#pragma once

#include "results/savefiledialog.h"

// The save-file dialog as a modal file dialog over the active window. Its one
// filter is labelled ".csv" and matches every file; it adds no suffix and does
// not ask before replacing a file.
class WidgetSaveFileDialog final : public SaveFileDialog
{
public:
    std::optional<QString> askFileName(const QString &previousName) override;
};
