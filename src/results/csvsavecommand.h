#pragma once

#include <QString>

class ResultsModel;
class SaveFileDialog;

// The save button: the file's bytes are taken from the table before the
// dialog opens (rows a running batch adds meanwhile are not in it), then the
// dialog asks for a name, offering the one chosen last time.
class CsvSaveCommand
{
public:
    explicit CsvSaveCommand(SaveFileDialog &dialog) : m_dialog(dialog) {}

    // False when the user cancels. Throws AppError when the file cannot be
    // written.
    bool run(const ResultsModel &results);

private:
    SaveFileDialog &m_dialog;
    QString m_lastName;
};
