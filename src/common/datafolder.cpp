#include "common/datafolder.h"

#include <QDir>
#include <QStandardPaths>

namespace datafolder {

QString path()
{
    QString folder = qEnvironmentVariable("QUILLMARSH_DATA_DIR");
    // Named here rather than taken from the application name, so that the
    // window and quillmarsh-cli share one folder (~/.local/share/Quillmarsh).
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                 QStringLiteral("/Quillmarsh");
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    return QDir(folder).absolutePath();
}

QString filePath(const QString &name)
{
    const QString folder = path();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

} // namespace datafolder
