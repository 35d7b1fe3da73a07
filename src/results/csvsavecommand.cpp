#include "results/csvsavecommand.h"

#include "results/csvexport.h"
#include "results/savefiledialog.h"

bool CsvSaveCommand::run(const ResultsModel &results)
{
    const QByteArray csv = csvexport::resultsCsv(results);
    const std::optional<QString> chosen = m_dialog.askFileName(m_lastName);
    if (!chosen)
        return false;
    m_lastName = *chosen;
    csvexport::save(csvexport::csvFileName(*chosen),
                    [&csv](QIODevice *file) { csvexport::write(file, csv); });
    return true;
}
