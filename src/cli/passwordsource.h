#pragma once

#include <QByteArray>

// Where the command line takes the password from: never an argument, which
// other users can read in the process list.
namespace passwordsource {

// QUILLMARSH_PASSWORD when it is set, else one line of standard input (not
// echoed when that is a terminal), without its line end. UTF-8 as given.
QByteArray read();

} // namespace passwordsource
