#include "results/exportcommand.h"

#include "results/savefiledialog.h"

bool ExportCommand::run(tableexport::Format format, const ResultsModel &results, const QList<int> &positions)
{
    const std::optional<QString> chosen = m_dialog.askFileName(m_lastName);
    if (!chosen)
        return false;
    m_lastName = *chosen;
    tableexport::save(tableexport::fileNameFor(format, *chosen), format, results, positions);
    return true;
}
