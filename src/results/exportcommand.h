#pragma once

#include "results/tableexport.h"

#include <QList>
#include <QString>

class ResultsModel;
class SaveFileDialog;

// The 导出… command: the rows are taken before the dialog opens (rows a
// running batch adds meanwhile are not in the file), the dialog asks for a
// name, offering the last one, and the format's ending is added when missing.
class ExportCommand
{
public:
    explicit ExportCommand(SaveFileDialog &dialog) : m_dialog(dialog) {}

    // positions: the table positions to write, top to bottom. False when the
    // user cancels. Throws AppError when the file cannot be written.
    bool run(tableexport::Format format, const ResultsModel &results, const QList<int> &positions);

private:
    SaveFileDialog &m_dialog;
    QString m_lastName;
};
