#pragma once

#include <QLocale>

class QTranslator;

// Loads Qt's own translations (standard buttons, the file dialog) for locale
// from Qt's translations folder and installs them in the application.
// Returns the installed translator, owned by the application, or nullptr when
// Qt has none for that language (then Qt speaks English).
QTranslator *installQtTranslations(const QLocale &locale = QLocale());
