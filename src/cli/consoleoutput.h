#pragma once

#include <QString>

// Texts for the terminal: the program holds GBK, the terminal speaks UTF-8.
namespace consoleoutput {

void printLine(const QString &text);      // standard output
void printErrorLine(const QString &text); // standard error

} // namespace consoleoutput
