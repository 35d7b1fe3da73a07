#pragma once

#include "results/savefiledialog.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace testsupport {

// Answers the save dialog from a script instead of opening it, and records
// the name each call offered.
class RecordingSaveDialog final : public SaveFileDialog
{
public:
    QList<std::optional<QString>> answers; // taken in order; a cancel when none is left
    QStringList offered;
    // Runs while the dialog would be open.
    std::function<void()> whileOpen;

    std::optional<QString> askFileName(const QString &previousName) override
    {
        offered.append(previousName);
        if (whileOpen)
            whileOpen();
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
};

} // namespace testsupport
