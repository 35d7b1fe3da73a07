// quillmarsh-cli: the login and the batch query without windows, over the same
// core objects the windows drive.

#include "cli/batchrun.h"
#include "cli/consolelogin.h"
#include "cli/consoleoutput.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "cli/passwordsource.h"
#include "results/csvexport.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cstdio>

namespace {

const char usageText[] =
    "usage: quillmarsh-cli login USER\n"
    "       quillmarsh-cli query --user USER [--no-must-contain] [--sort count|sales|price]\n"
    "                            [--csv FILE] [--fetch-timeout MS] SEED\n"
    "The password comes from QUILLMARSH_PASSWORD, else from standard input.\n"
    "query logs in, walks the related searches from SEED and writes the table as CSV\n"
    "to FILE or standard output. --fetch-timeout 0 lets a page take as long as it takes.\n"
    "quillmarsh-cli --help prints this text, --version the program's version.\n";

constexpr int abortSettleMs = 50;

int usageError(const QString &problem)
{
    consoleoutput::printErrorLine(QStringLiteral("quillmarsh-cli: ") + problem);
    std::fputs(usageText, stderr);
    return UsageError;
}

// The password typed or given in the environment, as the login window would hold it.
QByteArray password()
{
    return text::toGbk(QString::fromUtf8(passwordsource::read()));
}

int login(const QStringList &arguments)
{
    QCommandLineParser parser;
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("login takes one user name"));

    ConsoleLogin attempt(text::toGbk(parser.positionalArguments().first()), password());
    const int code = attempt.run();
    if (code == Success) {
        for (const QByteArray &field : attempt.session().userinfo())
            consoleoutput::printLine(text::fromGbk(field));
    }
    return code;
}

// The table as the save command writes it, to the file named as given or to
// standard output. The batch is over, so the table cannot change while it is
// written: it goes out a piece at a time instead of being built whole first.
int writeTable(const ResultsModel &results, const QString &fileName)
{
    const auto writeCsv = [&results](QIODevice *device) { csvexport::writeCsv(device, results); };
    try {
        if (!fileName.isEmpty()) {
            csvexport::save(fileName, writeCsv);
        } else {
            QFile out;
            out.open(stdout, QIODevice::WriteOnly);
            writeCsv(&out);
        }
    } catch (const AppError &error) {
        consoleoutput::printErrorLine(errorBoxText(error.message()));
        return AnswerError;
    }
    return Success;
}

int query(const QStringList &arguments)
{
    const QCommandLineOption user(QStringLiteral("user"), {}, QStringLiteral("USER"));
    const QCommandLineOption noMustContain(QStringLiteral("no-must-contain"));
    const QCommandLineOption sort(QStringLiteral("sort"), {}, QStringLiteral("count|sales|price"));
    const QCommandLineOption csv(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
    const QCommandLineOption fetchTimeout(QStringLiteral("fetch-timeout"), {}, QStringLiteral("MS"));
    QCommandLineParser parser;
    parser.addOptions({user, noMustContain, sort, csv, fetchTimeout});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.isSet(user))
        return usageError(QStringLiteral("query needs --user"));
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("query takes one seed keyword"));
    const QString sortBy = parser.value(sort);
    if (parser.isSet(sort) && sortBy != QLatin1String("count") && sortBy != QLatin1String("sales") &&
        sortBy != QLatin1String("price"))
        return usageError(QStringLiteral("--sort takes count, sales or price"));
    bool timeoutOk = true;
    const int timeoutMs = parser.isSet(fetchTimeout) ? parser.value(fetchTimeout).toInt(&timeoutOk) : 0;
    if (!timeoutOk || timeoutMs < 0)
        return usageError(QStringLiteral("--fetch-timeout takes milliseconds"));

    ConsoleLogin attempt(text::toGbk(parser.value(user)), password());
    if (const int code = attempt.run(); code != Success)
        return code;

    // The keyword box holds the seed for the whole batch.
    const QByteArray seed = text::toGbk(parser.positionalArguments().first());
    ResultsModel results;
    BatchRun batch(&results, KeywordFilter{seed, !parser.isSet(noMustContain)});
    if (parser.isSet(fetchTimeout))
        batch.setFetchTimeout(timeoutMs);
    InterruptWatcher interrupts;
    bool interrupted = false;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &batch, [&] {
        interrupted = true;
        batch.stop();
    });
    QEventLoop loop;
    QObject::connect(&batch, &BatchRun::finished, &loop, &QEventLoop::quit);
    if (!batch.start(seed))
        return UsageError;
    loop.exec();
    if (interrupted) {
        // A fetch stopped in flight is aborted across the network thread and
        // released with deleteLater: give that a moment of event loop before
        // the process tears the network down.
        QTimer::singleShot(abortSettleMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    if (sortBy == QLatin1String("count"))
        results.sortByItemCount();
    else if (sortBy == QLatin1String("sales"))
        results.sortBySales();
    else if (sortBy == QLatin1String("price"))
        results.sortByPrice();
    const int code = writeTable(results, parser.value(csv));
    return code == Success && interrupted ? Interrupted : code;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmarsh-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION));
    // Each command parses its own options; the program name stands first for the parser.
    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.size() > 1 ? arguments.takeAt(1) : QString();
    if (command == QLatin1String("login"))
        return login(arguments);
    if (command == QLatin1String("query"))
        return query(arguments);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(usageText, stdout);
        return Success;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
        consoleoutput::printLine(QCoreApplication::applicationName() + u' ' +
                                 QCoreApplication::applicationVersion());
        return Success;
    }
    return usageError(command.isEmpty() ? QStringLiteral("no command")
                                        : QStringLiteral("unknown command ") + command);
}
