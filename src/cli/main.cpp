// quillmarsh-cli: the login and the batch query without windows, over the same
// core objects the windows drive.

#include "cli/batchrun.h"
#include "cli/consolelogin.h"
#include "cli/consoleoutput.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "cli/passwordsource.h"
#include "common/apperror.h"
#include "common/marketcookie.h"
#include "common/marketprofile.h"
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
    "                            [--max-keywords N] [--max-depth D] [--cookie-file FILE] SEED\n"
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

// What a query command asks for.
struct QueryOptions
{
    QString user;
    QByteArray seed; // GBK
    bool mustContain = true;
    QString sortBy;                  // empty, "count", "sales" or "price"
    QList<QByteArray> excludedWords; // folded
    std::optional<double> minOpportunity;
    tableexport::Format format = tableexport::Format::Csv;
    QString outFile; // empty: standard output
    std::optional<int> fetchTimeoutMs;
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
    const QCommandLineOption csv(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
    const QCommandLineOption fetchTimeout(QStringLiteral("fetch-timeout"), {}, QStringLiteral("MS"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), {}, QStringLiteral("WORD"));
    const QCommandLineOption format(QStringLiteral("format"), {}, QStringLiteral("csv|csv-utf8|xlsx|json"));
    const QCommandLineOption out(QStringLiteral("out"), {}, QStringLiteral("FILE"));
    const QCommandLineOption minOpportunity(QStringLiteral("min-opportunity"), {}, QStringLiteral("X"));
    const QCommandLineOption profile(QStringLiteral("profile"), {}, QStringLiteral("FILE"));
    const QCommandLineOption cookieFile(QStringLiteral("cookie-file"), {}, QStringLiteral("FILE"));
    QCommandLineParser parser;
    parser.addOptions({user, noMustContain, sort, csv, fetchTimeout, exclude, format, out, minOpportunity,
                       profile, cookieFile});
    for (const char *name : {"parallel", "retries", "delay", "jitter", "max-keywords", "max-depth"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), {}, QStringLiteral("N")));
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
    for (const QString &word : parser.values(exclude))
        options.excludedWords.append(KeywordFilter::exclusionWords(word));
    if (parser.isSet(csv) && (parser.isSet(format) || parser.isSet(out)))
        return QStringLiteral("--csv names the CSV file; use --format and --out instead");
    if (parser.isSet(format)) {
        const std::optional<tableexport::Format> named = tableexport::formatNamed(parser.value(format));
        if (!named)
            return QStringLiteral("--format takes csv, csv-utf8, xlsx or json");
        options.format = *named;
    }
    options.outFile = parser.isSet(csv) ? parser.value(csv) : parser.value(out);
    if (options.format == tableexport::Format::Xlsx && options.outFile.isEmpty())
        return QStringLiteral("--format xlsx needs --out FILE");
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

// Logs in, runs one batch from the seed until it ends or Ctrl-C stops it, and
// writes the table.
int runQuery(const QueryOptions &options)
{
    ConsoleLogin attempt(text::toGbk(options.user), password());
    if (const int code = attempt.run(); code != Success)
        return code;

    // The keyword box holds the seed for the whole batch.
    ResultsModel results;
    // Only the JSON lists each row's items; the other formats need not keep them.
    results.setKeepsListedItems(options.format == tableexport::Format::Json);
    BatchRun batch(&results, KeywordFilter{options.seed, options.mustContain, options.excludedWords});
    if (options.fetchTimeoutMs)
        batch.scheduler().setFetchTimeout(*options.fetchTimeoutMs);
    batch.scheduler().setProfile(options.profile);
    batch.scheduler().setCrawlSettings(options.crawl);
    batch.scheduler().setCookie(options.cookie);
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
    ResultsFilterModel written(&results);
    ViewFilter filter;
    filter.minOpportunity = options.minOpportunity;
    written.setViewFilter(filter);
    const int code = writeTable(results, written.shownPositions(), options.format, options.outFile);
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
