#include "app/qttranslations.h"
#include "app/quillmarshapp.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

// Prints the help or the version and ends the process when asked to. Every
// other argument belongs to the program (-minimized) or to Qt (-platform,
// -style …) and is left alone.
void answerHelpOrVersion()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Keyword research for sellers on the Taobao marketplace: from one seed keyword it walks the "
        "related searches and tables each keyword's competing items, sales and price.\n"
        "With -minimized the program starts in the notification area."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(version))
        parser.showVersion();
    if (parser.isSet(help))
        parser.showHelp();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION));
    {
        // A console application answers --help and --version, so they work
        // without a display.
        const QCoreApplication console(argc, argv);
        answerHelpOrVersion();
    }
    // Lets the desktop match the windows to the menu entry (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quillmarsh.quillmarsh"));
    QApplication application(argc, argv);
    installQtTranslations();
    QuillmarshApp program;
    program.start(QuillmarshApp::startsMinimized(QApplication::arguments()));
    return QApplication::exec();
}
