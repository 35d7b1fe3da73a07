// quillmarsh-cli: the login and the batch query without windows, over the same
// core objects the windows drive.

#include "cli/batchrun.h"
#include "cli/consolelogin.h"
#include "cli/consoleoutput.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "cli/passwordsource.h"
#include "common/apperror.h"
#include "common/datafolder.h"
#include "common/marketcookie.h"
#include "common/marketprofile.h"
#include "history/historydatabase.h"
#include "history/historyrecorder.h"
#include "history/runcomparison.h"
#include "history/runrestore.h"
#include "results/csvexport.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "results/tableexport.h"
#include "text/gbk.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <tuple>
#include <variant>

namespace {

const char usageText[] =
    "usage: quillmarsh-cli login USER\n"
    "       quillmarsh-cli query --user USER [--no-must-contain] [--sort count|sales|price]\n"
    "                            [--exclude WORD]... [--min-opportunity X]\n"
    "                            [--csv FILE | --format csv|csv-utf8|xlsx|json [--out FILE]]\n"
    "                            [--fetch-timeout MS] [--profile FILE]\n"
    "                            [--parallel N] [--retries N] [--delay MS] [--jitter MS]\n"
    "                            [--max-keywords N] [--max-depth D] [--cookie-file FILE] [--no-history] "
    "SEED\n"
    "       quillmarsh-cli query --user USER --resume ID|last [--sort ...] [--csv FILE | --format ...]\n"
    "       quillmarsh-cli history\n"
    "       quillmarsh-cli export ID [--sort count|sales|price] [--csv FILE | --format ... [--out FILE]]\n"
    "       quillmarsh-cli diff OLD NEW [--format json]\n"
    "The password comes from QUILLMARSH_PASSWORD, else from standard input.\n"
    "query logs in, walks the related searches from SEED and writes the table to FILE or\n"
    "standard output: csv (the default) is the GBK CSV of the save button, csv-utf8 and\n"
    "xlsx (needs --out) hold every column, json one object per row. --exclude leaves\n"
    "related keywords holding WORD unqueued; --min-opportunity writes only the rows whose\n"
    "opportunity is at least X. --fetch-timeout 0 lets a page take as long as it takes.\n"
    "--profile reads the marketplace's search address and page markers from an INI\n"
    "file (default: the file QUILLMARSH_MARKET_PROFILE names, else the built-in ones).\n"
    "--parallel fetches up to N pages at once (1-16), still parsed in queue order;\n"
    "--retries tries a failed page up to N more times (429 and 503 answers count as\n"
    "failed, and their Retry-After is waited for); --delay keeps MS between the starts\n"
    "of two requests, --jitter adds up to MS at random; --max-keywords fetches at most\n"
    "N queue lines; --max-depth queues no keyword deeper than D below the seed;\n"
    "--cookie-file sends the cookie in FILE (first line) with every marketplace request.\n"
    "Every query is recorded in history.sqlite in the data folder (QUILLMARSH_DATA_DIR)\n"
    "unless --no-history; --resume continues a recorded run that did not finish.\n"
    "history lists the runs, newest first; export writes a run's table; diff prints the\n"
    "keywords that are new, vanished or changed from run OLD to run NEW.\n"
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

// The table in the format asked for, to the file named or to standard output.
// The batch is over, so the table cannot change while it is written: it goes
// out a piece at a time instead of being built whole first.
int writeTable(const ResultsModel &results, const QList<int> &positions, tableexport::Format format,
               const QString &fileName)
{
    try {
        if (!fileName.isEmpty()) {
            tableexport::save(fileName, format, results, positions);
        } else {
            QFile out;
            out.open(stdout, QIODevice::WriteOnly);
            if (format == tableexport::Format::Csv)
                csvexport::writeCsv(&out, results, positions);
            else if (format == tableexport::Format::Utf8Csv)
                tableexport::writeUtf8Csv(&out, results, positions);
            else
                tableexport::writeJson(&out, results, positions);
        }
    } catch (const AppError &error) {
        consoleoutput::printErrorLine(errorBoxText(error.message()));
        return AnswerError;
    }
    return Success;
}

// Where and how a table is written: --csv FILE, or --format with --out.
struct TableOutput
{
    tableexport::Format format = tableexport::Format::Csv;
    QString file; // empty: standard output
};

const QCommandLineOption csvOption(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
const QCommandLineOption formatOption(QStringLiteral("format"), {}, QStringLiteral("csv|csv-utf8|xlsx|json"));
const QCommandLineOption outOption(QStringLiteral("out"), {}, QStringLiteral("FILE"));

// The table output the parsed options ask for, or the usage problem.
std::variant<TableOutput, QString> tableOutput(const QCommandLineParser &parser)
{
    if (parser.isSet(csvOption) && (parser.isSet(formatOption) || parser.isSet(outOption)))
        return QStringLiteral("--csv names the CSV file; use --format and --out instead");
    TableOutput output;
    if (parser.isSet(formatOption)) {
        const std::optional<tableexport::Format> named = tableexport::formatNamed(parser.value(formatOption));
        if (!named)
            return QStringLiteral("--format takes csv, csv-utf8, xlsx or json");
        output.format = *named;
    }
    output.file = parser.isSet(csvOption) ? parser.value(csvOption) : parser.value(outOption);
    if (output.format == tableexport::Format::Xlsx && output.file.isEmpty())
        return QStringLiteral("--format xlsx needs --out FILE");
    return output;
}

// What a query command asks for.
struct QueryOptions
{
    QString user;
    QByteArray seed; // GBK
    bool mustContain = true;
    QString sortBy;                  // empty, "count", "sales" or "price"
    QList<QByteArray> excludedWords; // folded
    std::optional<double> minOpportunity;
    TableOutput output;
    std::optional<int> fetchTimeoutMs;
    bool recordHistory = true;
    QString resumeRun; // a run id or "last"; empty for a new batch
    MarketProfile profile;
    CrawlSettings crawl;
    QByteArray cookie;
};

// A whole number from minimum to maximum, or the usage problem.
std::optional<QString> readNumber(const QCommandLineParser &parser, const QString &name, int minimum,
                                  int maximum, int &number)
{
    if (!parser.isSet(name))
        return std::nullopt;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return QStringLiteral("--%1 takes a whole number from %2 to %3").arg(name).arg(minimum).arg(maximum);
    number = value;
    return std::nullopt;
}

// The options, or the problem to report as a usage error.
std::variant<QueryOptions, QString> parseQueryOptions(const QStringList &arguments)
{
    const QCommandLineOption user(QStringLiteral("user"), {}, QStringLiteral("USER"));
    const QCommandLineOption noMustContain(QStringLiteral("no-must-contain"));
    const QCommandLineOption sort(QStringLiteral("sort"), {}, QStringLiteral("count|sales|price"));
    const QCommandLineOption fetchTimeout(QStringLiteral("fetch-timeout"), {}, QStringLiteral("MS"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), {}, QStringLiteral("WORD"));
    const QCommandLineOption minOpportunity(QStringLiteral("min-opportunity"), {}, QStringLiteral("X"));
    const QCommandLineOption noHistory(QStringLiteral("no-history"));
    const QCommandLineOption resume(QStringLiteral("resume"), {}, QStringLiteral("ID|last"));
    const QCommandLineOption profile(QStringLiteral("profile"), {}, QStringLiteral("FILE"));
    const QCommandLineOption cookieFile(QStringLiteral("cookie-file"), {}, QStringLiteral("FILE"));
    QCommandLineParser parser;
    parser.addOptions({user, noMustContain, sort, csvOption, fetchTimeout, exclude, formatOption, outOption,
                       minOpportunity, profile, cookieFile, noHistory, resume});
    for (const char *name : {"parallel", "retries", "delay", "jitter", "max-keywords", "max-depth"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), {}, QStringLiteral("N")));
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.isSet(user))
        return QStringLiteral("query needs --user");

    QueryOptions options;
    options.resumeRun = parser.value(resume);
    if (parser.isSet(resume)) {
        // The run's own seed and options shape the rest of its queue.
        if (!parser.positionalArguments().isEmpty() || parser.isSet(noMustContain) || parser.isSet(noHistory))
            return QStringLiteral("--resume takes no seed, --no-must-contain or --no-history");
    } else if (parser.positionalArguments().size() != 1) {
        return QStringLiteral("query takes one seed keyword");
    } else {
        options.seed = text::toGbk(parser.positionalArguments().first());
    }
    options.user = parser.value(user);
    options.mustContain = !parser.isSet(noMustContain);
    options.recordHistory = !parser.isSet(noHistory);
    options.sortBy = parser.value(sort);
    if (parser.isSet(sort) && options.sortBy != QLatin1String("count") &&
        options.sortBy != QLatin1String("sales") && options.sortBy != QLatin1String("price"))
        return QStringLiteral("--sort takes count, sales or price");
    for (const QString &word : parser.values(exclude))
        options.excludedWords.append(KeywordFilter::exclusionWords(word));
    const auto output = tableOutput(parser);
    if (const auto *problem = std::get_if<QString>(&output))
        return *problem;
    options.output = std::get<TableOutput>(output);
    if (parser.isSet(minOpportunity)) {
        bool numberOk = false;
        options.minOpportunity = parser.value(minOpportunity).toDouble(&numberOk);
        if (!numberOk)
            return QStringLiteral("--min-opportunity takes a number");
    }
    if (parser.isSet(fetchTimeout)) {
        bool timeoutOk = true;
        options.fetchTimeoutMs = parser.value(fetchTimeout).toInt(&timeoutOk);
        if (!timeoutOk || *options.fetchTimeoutMs < 0)
            return QStringLiteral("--fetch-timeout takes milliseconds");
    }
    CrawlSettings &crawl = options.crawl;
    constexpr int many = std::numeric_limits<int>::max();
    for (const auto &[name, minimum, maximum, number] :
         {std::tuple{"parallel", 1, CrawlSettings::MaxParallel, &crawl.parallel},
          std::tuple{"retries", 0, CrawlSettings::MaxRetries, &crawl.retries},
          std::tuple{"delay", 0, CrawlSettings::MaxDelayMs, &crawl.delayMs},
          std::tuple{"jitter", 0, CrawlSettings::MaxDelayMs, &crawl.jitterMs},
          std::tuple{"max-keywords", 1, many, &crawl.maxKeywords},
          std::tuple{"max-depth", 0, many, &crawl.maxDepth}}) {
        if (const auto problem = readNumber(parser, QString::fromLatin1(name), minimum, maximum, *number))
            return *problem;
    }
    try {
        options.profile = MarketProfile::chosen(parser.value(profile));
        if (parser.isSet(cookieFile))
            options.cookie = marketcookie::read(parser.value(cookieFile));
    } catch (const AppError &error) {
        return error.message();
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

// The history file of the data folder; null (the reason printed) when it
// cannot be used.
std::unique_ptr<history::Database> openHistory()
{
    const QString fileName = datafolder::filePath(QStringLiteral("history.sqlite"));
    if (fileName.isEmpty()) {
        consoleoutput::printErrorLine(QStringLiteral("quillmarsh-cli: the data folder cannot be created"));
        return nullptr;
    }
    try {
        auto database = std::make_unique<history::Database>(fileName);
        if (!database->notice().isEmpty())
            consoleoutput::printErrorLine(database->notice());
        return database;
    } catch (const history::HistoryError &error) {
        consoleoutput::printErrorLine(error.message());
        return nullptr;
    }
}

// The run named by an id or "last" (the newest); none, the reason printed,
// when there is no such run.
std::optional<history::StoredRun>
storedRun(history::Database &database, const QString &name,
          history::Database::RunParts parts = history::Database::RunParts::Table)
{
    try {
        qint64 id = 0;
        if (name == QLatin1String("last")) {
            const QList<history::RunSummary> runs = database.runs();
            id = runs.isEmpty() ? 0 : runs.first().id;
        } else {
            id = name.toLongLong();
        }
        if (std::optional<history::StoredRun> run = id > 0 ? database.run(id, parts) : std::nullopt)
            return run;
        consoleoutput::printErrorLine(QStringLiteral("quillmarsh-cli: no run %1 in the history").arg(name));
    } catch (const history::HistoryError &error) {
        consoleoutput::printErrorLine(error.message());
    }
    return std::nullopt;
}

// Logs in, runs one batch from the seed (or continues a recorded one) until it
// ends or Ctrl-C stops it, and writes the table.
int runQuery(const QueryOptions &options)
{
    std::unique_ptr<history::Database> database;
    std::optional<history::StoredRun> resumed;
    if (!options.resumeRun.isEmpty()) {
        database = openHistory();
        if (!database ||
            !(resumed = storedRun(*database, options.resumeRun, history::Database::RunParts::TableAndQueue)))
            return AnswerError;
        if (resumed->summary.state == history::RunState::Running) {
            consoleoutput::printErrorLine(
                QStringLiteral("quillmarsh-cli: run %1 is still running").arg(resumed->summary.id));
            return AnswerError;
        }
    } else if (options.recordHistory) {
        database = openHistory(); // without it the batch runs unrecorded
    }

    ConsoleLogin attempt(text::toGbk(options.user), password());
    if (const int code = attempt.run(); code != Success)
        return code;

    // The keyword box holds the seed for the whole batch.
    const history::RunOptions runOptions = resumed ? resumed->options
                                                   : history::RunOptions{options.seed,
                                                                         options.seed,
                                                                         options.mustContain,
                                                                         options.excludedWords,
                                                                         text::toGbk(options.user),
                                                                         options.crawl.maxKeywords,
                                                                         options.crawl.maxDepth,
                                                                         options.crawl.retries};
    ResultsModel results;
    // Only the JSON lists each row's items; the other formats need not keep them.
    results.setKeepsListedItems(options.output.format == tableexport::Format::Json);
    auto batch = std::make_unique<BatchRun>(
        &results, KeywordFilter{runOptions.filterText, runOptions.mustContain, runOptions.excludedWords});
    if (options.fetchTimeoutMs)
        batch->scheduler().setFetchTimeout(*options.fetchTimeoutMs);
    batch->scheduler().setProfile(options.profile);
    batch->scheduler().setCrawlSettings(options.crawl);
    batch->scheduler().setCookie(options.cookie);
    std::optional<HistoryRecorder> recorder;
    if (database) {
        recorder.emplace(database.get(), &batch->scheduler(), [&runOptions] { return runOptions; });
        QObject::connect(&*recorder, &HistoryRecorder::stopped, &consoleoutput::printErrorLine);
    }
    InterruptWatcher interrupts;
    bool interrupted = false;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, batch.get(), [&] {
        interrupted = true;
        batch->stop();
    });
    QEventLoop loop;
    QObject::connect(batch.get(), &BatchRun::finished, &loop, &QEventLoop::quit);
    if (resumed) {
        batch->resume(*resumed, recorder ? &*recorder : nullptr);
    } else if (!batch->start(options.seed)) {
        return UsageError;
    }
    loop.exec();
    if (interrupted) {
        // A fetch stopped in flight is aborted across the network thread and
        // released with deleteLater: give that a moment of event loop before
        // the process tears the network down.
        QTimer::singleShot(abortSettleMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // The queue, its index and the network go before the table is written:
    // at a hundred thousand keywords they are a quarter of the batch's memory.
    recorder.reset();
    batch.reset();

    sortTable(results, options.sortBy);
    QList<int> positions;
    if (options.minOpportunity) {
        ResultsFilterModel written(&results);
        ViewFilter filter;
        filter.minOpportunity = options.minOpportunity;
        written.setViewFilter(filter);
        positions = written.shownPositions();
    } else {
        // Every row: a filter model would only cost its mapping.
        positions = tableexport::allPositions(results);
    }
    const int code = writeTable(results, positions, options.output.format, options.output.file);
    return code == Success && interrupted ? Interrupted : code;
}

int query(const QStringList &arguments)
{
    const auto parsed = parseQueryOptions(arguments);
    if (const auto *problem = std::get_if<QString>(&parsed))
        return usageError(*problem);
    return runQuery(std::get<QueryOptions>(parsed));
}

int listRuns(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return usageError(QStringLiteral("history takes no arguments"));
    const std::unique_ptr<history::Database> database = openHistory();
    if (!database)
        return AnswerError;
    try {
        for (const history::RunSummary &run : database->runs()) {
            consoleoutput::printLine(QStringList{
                QString::number(run.id),
                run.started.toOffsetFromUtc(run.started.offsetFromUtc()).toString(Qt::ISODate),
                text::fromGbk(run.seed), history::stateName(run.state), QString::number(run.pages),
                QString::number(run.rows), QString::number(run.failures)}
                                         .join(QLatin1Char('\t')));
        }
    } catch (const history::HistoryError &error) {
        consoleoutput::printErrorLine(error.message());
        return AnswerError;
    }
    return Success;
}

int exportRun(const QStringList &arguments)
{
    const QCommandLineOption sort(QStringLiteral("sort"), {}, QStringLiteral("count|sales|price"));
    QCommandLineParser parser;
    parser.addOptions({sort, csvOption, formatOption, outOption});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("export takes one run id"));
    const auto output = tableOutput(parser);
    if (const auto *problem = std::get_if<QString>(&output))
        return usageError(*problem);
    const std::unique_ptr<history::Database> database = openHistory();
    if (!database)
        return AnswerError;
    const std::optional<history::StoredRun> run = storedRun(*database, parser.positionalArguments().first());
    if (!run)
        return AnswerError;
    ResultsModel results;
    history::fillTable(results, *run);
    sortTable(results, parser.value(sort));
    const TableOutput &table = std::get<TableOutput>(output);
    return writeTable(results, tableexport::allPositions(results), table.format, table.file);
}

int diffRuns(const QStringList &arguments)
{
    const QCommandLineOption format(QStringLiteral("format"), {}, QStringLiteral("json"));
    QCommandLineParser parser;
    parser.addOption(format);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.positionalArguments().size() != 2)
        return usageError(QStringLiteral("diff takes two run ids"));
    if (parser.isSet(format) && parser.value(format) != QLatin1String("json"))
        return usageError(QStringLiteral("--format takes json"));
    const std::unique_ptr<history::Database> database = openHistory();
    if (!database)
        return AnswerError;
    const std::optional<history::StoredRun> older = storedRun(*database, parser.positionalArguments().at(0));
    if (!older)
        return AnswerError;
    const std::optional<history::StoredRun> newer = storedRun(*database, parser.positionalArguments().at(1));
    if (!newer)
        return AnswerError;
    const QList<history::KeywordChange> changes = history::compareRuns(*older, *newer);
    const QByteArray out = parser.isSet(format)
                               ? history::comparisonJson(changes, older->summary.id, newer->summary.id)
                               : history::comparisonText(changes);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return Success;
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
    if (command == QLatin1String("history"))
        return listRuns(arguments);
    if (command == QLatin1String("export"))
        return exportRun(arguments);
    if (command == QLatin1String("diff"))
        return diffRuns(arguments);
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
