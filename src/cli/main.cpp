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
#include <optional>
#include <variant>

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

// What a query command asks for.
struct QueryOptions
{
    QString user;
    QByteArray seed; // GBK
    bool mustContain = true;
    QString sortBy;  // empty, "count", "sales" or "price"
    QString csvFile; // empty: standard output
    std::optional<int> fetchTimeoutMs;
};

// The options, or the problem to report as a usage error.
std::variant<QueryOptions, QString> parseQueryOptions(const QStringList &arguments)
{
    const QCommandLineOption user(QStringLiteral("user"), {}, QStringLiteral("USER"));
    const QCommandLineOption noMustContain(QStringLiteral("no-must-contain"));
    const QCommandLineOption sort(QStringLiteral("sort"), {}, QStringLiteral("count|sales|price"));
    const QCommandLineOption csv(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
    const QCommandLineOption fetchTimeout(QStringLiteral("fetch-timeout"), {}, QStringLiteral("MS"));
    QCommandLineParser parser;
    parser.addOptions({user, noMustContain, sort, csv, fetchTimeout});
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.isSet(user))
        return QStringLiteral("query needs --user");
    if (parser.positionalArguments().size() != 1)
        return QStringLiteral("query takes one seed keyword");

    QueryOptions options;
    options.user = parser.value(user);
    options.seed = text::toGbk(parser.positionalArguments().first());
    options.mustContain = !parser.isSet(noMustContain);
    options.sortBy = parser.value(sort);
    if (parser.isSet(sort) && options.sortBy != QLatin1String("count") &&
        options.sortBy != QLatin1String("sales") && options.sortBy != QLatin1String("price"))
        return QStringLiteral("--sort takes count, sales or price");
    options.csvFile = parser.value(csv);
    if (parser.isSet(fetchTimeout)) {
        bool timeoutOk = true;
        options.fetchTimeoutMs = parser.value(fetchTimeout).toInt(&timeoutOk);
        if (!timeoutOk || *options.fetchTimeoutMs < 0)
            return QStringLiteral("--fetch-timeout takes milliseconds");
    }
    return options;
}

void sortTable(ResultsModel &results, const QString &sortBy)
{
    if (sortBy == QLatin1String("count"))
        results.sortByItemCount();
    else if (sortBy == QLatin1String("sales"))
        results.sortBySales();
    else if (sortBy == QLatin1String("price"))
        results.sortByPrice();
}

// Logs in, runs one batch from the seed until it ends or Ctrl-C stops it, and
// writes the table.
int runQuery(const QueryOptions &options)
{
    ConsoleLogin attempt(text::toGbk(options.user), password());
    if (const int code = attempt.run(); code != Success)
        return code;

    // The keyword box holds the seed for the whole batch.
    ResultsModel results;
    BatchRun batch(&results, KeywordFilter{options.seed, options.mustContain});
    if (options.fetchTimeoutMs)
        batch.setFetchTimeout(*options.fetchTimeoutMs);
    InterruptWatcher interrupts;
    bool interrupted = false;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &batch, [&] {
        interrupted = true;
        batch.stop();
    });
    QEventLoop loop;
    QObject::connect(&batch, &BatchRun::finished, &loop, &QEventLoop::quit);
    if (!batch.start(options.seed))
        return UsageError;
    loop.exec();
    if (interrupted) {
        // A fetch stopped in flight is aborted across the network thread and
        // released with deleteLater: give that a moment of event loop before
        // the process tears the network down.
        QTimer::singleShot(abortSettleMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    sortTable(results, options.sortBy);
    const int code = writeTable(results, options.csvFile);
    return code == Success && interrupted ? Interrupted : code;
}

int query(const QStringList &arguments)
{
    const auto parsed = parseQueryOptions(arguments);
    if (const auto *problem = std::get_if<QString>(&parsed))
        return usageError(*problem);
    return runQuery(std::get<QueryOptions>(parsed));
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
