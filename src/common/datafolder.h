#pragma once

#include <QString>

// Where the user's own files live: the run history, settings and pages kept
// for a look. QUILLMARSH_DATA_DIR, when set, names the folder (tests, portable
// use); otherwise Quillmarsh in the platform's data folder.
namespace datafolder {

// The folder, created when missing. Empty when it cannot be created.
QString path();
// A file in the folder.
QString filePath(const QString &name);

} // namespace datafolder
