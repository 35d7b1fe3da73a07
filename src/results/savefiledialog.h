#pragma once

#include <QString>
#include <optional>

// The save-file dialog, behind a small interface so the save command stays in
// core and tests answer it without a modal dialog.
class SaveFileDialog
{
public:
    virtual ~SaveFileDialog() = default;

    // Asks for the name of the file to save, offering previousName (empty the
    // first time). Nothing when the user cancels.
    virtual std::optional<QString> askFileName(const QString &previousName) = 0;
};
