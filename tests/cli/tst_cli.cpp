#include "keywordgraph.h"
#include "rawhttpserver.h"
#include "simprocess.h"
#include "text/gbk.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <deque>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using testsupport::RawHttpServer;
using testsupport::ScriptedResponse;
using testsupport::SimProcess;

namespace {

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QStringList errorLines() const
    {
        return QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The last progress line, e.g. "pages 30, queued 0, rows 27, failed 0, excluded 0, 410.3 pages/s".
    QString lastProgress() const
    {
        const QStringList lines = errorLines().filter(QRegularExpression(QStringLiteral("^pages ")));
        return lines.isEmpty() ? QString() : lines.last();
    }
};

QProcessEnvironment cliEnvironment(const QByteArray &hostAndPort)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLMARSH_MARKET_HOST"), QString::fromLatin1(hostAndPort));
    environment.insert(QStringLiteral("QUILLMARSH_ACCOUNT_HOST"), QString::fromLatin1(hostAndPort));
    environment.insert(QStringLiteral("QUILLMARSH_PASSWORD"), QStringLiteral("demo"));
    return environment;
}

void startCli(QProcess &process, const QStringList &arguments, const QProcessEnvironment &environment)
{
    process.setProcessEnvironment(environment);
    process.start(testsupport::builtExecutable(QStringLiteral("src/cli/quillmarsh-cli")), arguments);
}

CliRun finish(QProcess &process, const QByteArray &input = {})
{
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    CliRun run;
    if (!process.waitForFinished(120'000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

CliRun runCli(const QStringList &arguments, const QProcessEnvironment &environment,
              const QByteArray &input = {})
{
    QProcess process;
    startCli(process, arguments, environment);
    return finish(process, input);
}

// One row of the expected table, as the page shows it.
struct ExpectedRow
{
    QString keyword;
    QString itemCount;
    QString sales;
    QString price;
    QString description;
    QString parent; // empty for the seed
    int depth = 0;
    QList<sim::ListedItem> items; // the first ten the page lists
};

struct ExpectedBatch
{
    QList<ExpectedRow> rows; // in the order the pages were fetched
    int failed = 0;
};

// The batch worked out from the simulator's graph alone, without the program's
// parser: breadth-first from the seed, a related keyword queued unless a line
// equal to it (letter case ignored) is queued already or, with mustContain, it
// does not contain the seed; a page with items gives a row of its count and its
// best seller; a failing page gives nothing.
// Keywords holding an excluded word (letter case ignored) are not queued.
ExpectedBatch expectedBatch(int graphSize, const QString &seed, bool mustContain, double failShare = 0,
                            const QStringList &excluded = {})
{
    const sim::KeywordGraph graph(graphSize);
    ExpectedBatch batch;
    std::deque<QString> queue{seed};
    QSet<QString> queued{seed.toCaseFolded()};
    QHash<QString, QPair<QString, int>> origins; // keyword: parent, depth
    while (!queue.empty()) {
        const QString keyword = queue.front();
        queue.pop_front();
        const auto [parent, depth] = origins.value(keyword);
        if (failShare > 0 && sim::KeywordGraph::failsAt(keyword, failShare)) {
            ++batch.failed;
            continue;
        }
        const sim::ResultPage page = graph.page(keyword);
        for (const QString &candidate : page.related) {
            if (queued.contains(candidate.toCaseFolded()) || (mustContain && !candidate.contains(seed)) ||
                std::any_of(excluded.begin(), excluded.end(), [&](const QString &word) {
                    return candidate.contains(word, Qt::CaseInsensitive);
                }))
                continue;
            queued.insert(candidate.toCaseFolded());
            queue.push_back(candidate);
            origins.insert(candidate, {keyword, depth + 1});
        }
        if (page.itemCount != QLatin1String("0")) {
            const sim::ListedItem &best = page.items.first();
            batch.rows.append({keyword, page.itemCount, QString::number(best.sales), best.price, best.title,
                               parent, depth, page.items.first(10)});
        }
    }
    return batch;
}

// The sort commands' orders: fewest items, most sales, lowest price first;
// rows that compare equal keep their order.
void sortRows(QList<ExpectedRow> &rows, const QString &sortBy)
{
    auto byNumber = [](auto field, bool ascending) {
        return [=](const ExpectedRow &a, const ExpectedRow &b) {
            const double x = (a.*field).toDouble();
            const double y = (b.*field).toDouble();
            return ascending ? x < y : x > y;
        };
    };
    if (sortBy == QLatin1String("count"))
        std::stable_sort(rows.begin(), rows.end(), byNumber(&ExpectedRow::itemCount, true));
    else if (sortBy == QLatin1String("sales"))
        std::stable_sort(rows.begin(), rows.end(), byNumber(&ExpectedRow::sales, false));
    else if (sortBy == QLatin1String("price"))
        std::stable_sort(rows.begin(), rows.end(), byNumber(&ExpectedRow::price, true));
}

// The saved file: GBK, CR LF after every line, numbered by position. None of
// the simulator's texts needs quoting.
QByteArray csvOf(const QList<ExpectedRow> &rows)
{
    QString csv = QStringLiteral("序号,关键词,宝贝数量,最高成交笔数,成交价格,宝贝描述\r\n");
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ExpectedRow &row = rows[i];
        csv += QStringList{QString::number(i + 1), row.keyword, row.itemCount, row.sales, row.price,
                           row.description}
                   .join(QLatin1Char(',')) +
               QStringLiteral("\r\n");
    }
    return text::toGbk(csv);
}

QStringList simArguments(int graphSize, const QStringList &more = {})
{
    return QStringList{QStringLiteral("--graph-size"), QString::number(graphSize),
                       QStringLiteral("--page-size"), QStringLiteral("0")} +
           more;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loginAgainstSimulator_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("passwordVariable"); // empty: typed on standard input
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("accepted") << QStringLiteral("demo") << QByteArray("demo") << QByteArray() << 0;
        QTest::newRow("password on standard input")
            << QStringLiteral("demo") << QByteArray() << QByteArray("demo\n") << 0;
        QTest::newRow("password with CR LF")
            << QStringLiteral("demo") << QByteArray() << QByteArray("demo\r\n") << 0;
        QTest::newRow("wrong password") << QStringLiteral("demo") << QByteArray("demo ") << QByteArray() << 3;
        QTest::newRow("unknown user") << QStringLiteral("演示") << QByteArray("demo") << QByteArray() << 3;
    }
    void loginAgainstSimulator()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, passwordVariable);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        SimProcess sim;
        QVERIFY(sim.port());
        QProcessEnvironment environment = cliEnvironment(sim.hostAndPort());
        if (passwordVariable.isEmpty())
            environment.remove(QStringLiteral("QUILLMARSH_PASSWORD"));
        else
            environment.insert(QStringLiteral("QUILLMARSH_PASSWORD"), QString::fromUtf8(passwordVariable));
        const CliRun run = runCli({QStringLiteral("login"), user}, environment, input);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode != 0) {
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.errorLines(), QStringList{QStringLiteral("用户名或密码错误！请重试。")});
            return;
        }
        const QStringList fields = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
        QCOMPARE(fields.size(), 12); // eleven lines, each ended
        QCOMPARE(fields[1], QStringLiteral("demo"));
        QCOMPARE(fields[2], QStringLiteral("注册会员"));
        QCOMPARE(fields[6], QStringLiteral("2560"));
        QCOMPARE(fields[7], QStringLiteral("demo@example.com"));
        QCOMPARE(fields[8], QStringLiteral("演示用户"));
    }

    void loginAgainstScriptedServer_data()
    {
        QTest::addColumn<int>("status"); // 0: the connection closes without an answer
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("errorLines");
        const QStringList refused{QStringLiteral("网络不通。"), QStringLiteral("用户名或密码错误！请重试。")};
        QTest::newRow("network failure") << 0 << QByteArray() << 3 << refused;
        QTest::newRow("error status") << 500 << QByteArray("<html>oops</html>") << 3 << refused;
        QTest::newRow("seven fields")
            << 200
            << QByteArray("<?xml version=\"1.0\"?><u><a>0</a><a>1</a><a>2</a><a>3</a>"
                          "<a>4</a><a>5</a><a>6</a></u>")
            << 1 << QStringList{QStringLiteral("List index out of bounds (7)")};
        // The error box adds a full stop after a letter.
        QTest::newRow("field of two elements")
            << 200 << QByteArray("<?xml version=\"1.0\"?><u><a><b><c/><d/></b></a></u>") << 1
            << QStringList{QStringLiteral("Element does not contain a single text node.")};
    }
    void loginAgainstScriptedServer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, exitCode);
        QFETCH(QStringList, errorLines);
        RawHttpServer server;
        server.enqueue(status == 0 ? ScriptedResponse::closed()
                                   : ScriptedResponse::status(status, "Status", body));
        const CliRun run = runCli({QStringLiteral("login"), QStringLiteral("张三 李")},
                                  cliEnvironment(server.hostAndPort()));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.errorLines(), errorLines);
        // The name arrives as typed, converted to the GBK bytes the service expects.
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.requests().first().target,
                 "/click_user.asp?user=" + text::toGbk(QStringLiteral("张三 李")) +
                     "&pass=demo&softname=Tolvanic");
    }

    void batchTable_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("cliOptions");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<bool>("toFile");
        QTest::newRow("gbk pages, to a file")
            << QStringList() << QStringList() << QStringLiteral("连衣裙") << true;
        QTest::newRow("utf8 pages, to standard output")
            << QStringList{QStringLiteral("--encoding"), QStringLiteral("utf8")} << QStringList()
            << QStringLiteral("连衣裙") << false;
        QTest::newRow("sorted by count")
            << QStringList() << QStringList{QStringLiteral("--sort"), QStringLiteral("count")}
            << QStringLiteral("连衣裙") << true;
        QTest::newRow("sorted by sales")
            << QStringList() << QStringList{QStringLiteral("--sort"), QStringLiteral("sales")}
            << QStringLiteral("连衣裙") << true;
        QTest::newRow("sorted by price")
            << QStringList() << QStringList{QStringLiteral("--sort"), QStringLiteral("price")}
            << QStringLiteral("连衣裙") << true;
        QTest::newRow("without the must-contain filter")
            << QStringList() << QStringList{QStringLiteral("--no-must-contain")} << QStringLiteral("连衣裙")
            << true;
        // Latin letters: a case variant of every keyword is listed and must not be queued again.
        QTest::newRow("latin seed") << QStringList() << QStringList() << QStringLiteral("iPhone壳") << true;
        const QString modernProfile = testsupport::sourceFile(QStringLiteral("tools/sim/modern-profile.ini"));
        QTest::newRow("eight pages at once, answered late")
            << QStringList{QStringLiteral("--latency"), QStringLiteral("5")}
            << QStringList{QStringLiteral("--parallel"), QStringLiteral("8"), QStringLiteral("--retries"),
                           QStringLiteral("1")}
            << QStringLiteral("连衣裙") << true;
        QTest::newRow("other markup read with its profile")
            << QStringList{QStringLiteral("--page-style"), QStringLiteral("modern")}
            << QStringList{QStringLiteral("--profile"), modernProfile} << QStringLiteral("连衣裙") << true;
    }
    void batchTable()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, cliOptions);
        QFETCH(QString, seed);
        QFETCH(bool, toFile);
        const int graphSize = 25;
        SimProcess sim(simArguments(graphSize, simOptions));
        QVERIFY(sim.port());
        QTemporaryDir folder;
        // Used as given: no ".csv" is added.
        const QString csvName = folder.filePath(QStringLiteral("table"));
        QStringList arguments{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo")};
        arguments += cliOptions;
        if (toFile)
            arguments += {QStringLiteral("--csv"), csvName};
        arguments += seed;
        const CliRun run = runCli(arguments, cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, 0);

        const bool mustContain = !cliOptions.contains(QStringLiteral("--no-must-contain"));
        ExpectedBatch expected = expectedBatch(graphSize, seed, mustContain);
        QVERIFY(expected.rows.size() > (mustContain ? graphSize / 2 : graphSize * 2));
        sortRows(expected.rows, cliOptions.value(cliOptions.indexOf(QStringLiteral("--sort")) + 1));
        QFile file(csvName);
        QCOMPARE(toFile, file.open(QIODevice::ReadOnly));
        const QByteArray table = toFile ? file.readAll() : run.out;
        QCOMPARE(text::fromGbk(table), text::fromGbk(csvOf(expected.rows)));
        QCOMPARE(table, csvOf(expected.rows));
        QVERIFY2(
            run.lastProgress().contains(QStringLiteral(", rows %1, failed 0,").arg(expected.rows.size())),
            qPrintable(run.lastProgress()));
    }

    void jsonWithExclusionsAndMinimum()
    {
        const int graphSize = 30;
        const QString seed = QStringLiteral("连衣裙");
        const QString excluded = sim::KeywordGraph::suffixWords().first();
        SimProcess sim(simArguments(graphSize));
        QVERIFY(sim.port());
        const double minimum = 0.05;
        const CliRun run =
            runCli({QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                    QStringLiteral("--exclude"), excluded, QStringLiteral("--format"), QStringLiteral("json"),
                    QStringLiteral("--min-opportunity"), QString::number(minimum), seed},
                   cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, 0);
        const ExpectedBatch all = expectedBatch(graphSize, seed, true, 0, {excluded});
        QList<ExpectedRow> expected;
        for (const ExpectedRow &row : all.rows) {
            if (row.sales.toDouble() / (row.itemCount.toDouble() + 1) >= minimum)
                expected.append(row);
        }
        QVERIFY(!expected.isEmpty());
        QVERIFY(expected.size() < all.rows.size());

        QJsonParseError error;
        const QJsonArray rows = QJsonDocument::fromJson(run.out, &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(rows.size(), expected.size());
        QStringList keys =
            QStringLiteral("position keyword items sales price title opportunity revenue top3_share "
                           "median_price title_matches depth parent top_items")
                .split(QLatin1Char(' '));
        keys.sort();
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QJsonObject row = rows[i].toObject();
            QStringList found = row.keys();
            found.sort();
            QCOMPARE(found, keys);
            const ExpectedRow &want = expected[i];
            QCOMPARE(row[QLatin1String("keyword")].toString(), want.keyword);
            QVERIFY(!want.keyword.contains(excluded));
            QCOMPARE(row[QLatin1String("items")].toDouble(), want.itemCount.toDouble());
            QCOMPARE(row[QLatin1String("sales")].toDouble(), want.sales.toDouble());
            QCOMPARE(row[QLatin1String("depth")].toInt(), want.depth);
            if (want.parent.isEmpty())
                QVERIFY(row[QLatin1String("parent")].isNull());
            else
                QCOMPARE(row[QLatin1String("parent")].toString(), want.parent);
            const QJsonArray items = row[QLatin1String("top_items")].toArray();
            QCOMPARE(items.size(), want.items.size());
            int matches = 0;
            for (qsizetype k = 0; k < items.size(); ++k) {
                const QJsonObject item = items[k].toObject();
                QCOMPARE(item[QLatin1String("title")].toString(), want.items[k].title);
                QCOMPARE(item[QLatin1String("price")].toDouble(), want.items[k].price.toDouble());
                QCOMPARE(item[QLatin1String("sales")].toInt(), want.items[k].sales);
                matches += want.items[k].title.contains(want.keyword) ? 1 : 0;
            }
            QCOMPARE(row[QLatin1String("title_matches")].toInt(), matches);
            QVERIFY(row[QLatin1String("opportunity")].toDouble() >= minimum);
        }
        // The keywords left out were counted: every child of the seed holding the word.
        QVERIFY2(!run.lastProgress().contains(QStringLiteral("excluded 0,")), qPrintable(run.lastProgress()));
    }

    void exportFormats_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("starts");
        QTest::newRow("utf-8 csv to standard output")
            << QStringList{QStringLiteral("--format"), QStringLiteral("csv-utf8")} << 0
            << QByteArray("\xEF\xBB\xBF") + QStringLiteral("序号,关键词").toUtf8();
        QTest::newRow("xlsx needs a file")
            << QStringList{QStringLiteral("--format"), QStringLiteral("xlsx")} << 2 << QByteArray();
        QTest::newRow("unknown format")
            << QStringList{QStringLiteral("--format"), QStringLiteral("xls")} << 2 << QByteArray();
        QTest::newRow("--csv with --out") << QStringList{QStringLiteral("--csv"), QStringLiteral("a"),
                                                         QStringLiteral("--out"), QStringLiteral("b")}
                                          << 2 << QByteArray();
    }
    void exportFormats()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, starts);
        SimProcess sim(simArguments(5));
        QVERIFY(sim.port());
        const CliRun run =
            runCli(QStringList{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo")} +
                       options + QStringList{QStringLiteral("连衣裙")},
                   cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.out.startsWith(starts));
    }

    void failingPagesAreSkippedAndCounted_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("dropped") << QStringLiteral("drop");
        QTest::newRow("empty") << QStringLiteral("empty");
        QTest::newRow("silent") << QStringLiteral("silence");
    }
    void failingPagesAreSkippedAndCounted()
    {
        QFETCH(QString, mode);
        const int graphSize = 40;
        const double share = 0.25;
        const QString seed = QStringLiteral("连衣裙");
        QVERIFY(!sim::KeywordGraph::failsAt(seed, share));
        SimProcess sim(simArguments(graphSize, {QStringLiteral("--fail-share"), QString::number(share),
                                                QStringLiteral("--fail-mode"), mode}));
        QVERIFY(sim.port());
        QTemporaryDir folder;
        const QString csvName = folder.filePath(QStringLiteral("failing.csv"));
        const CliRun run = runCli({QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                                   QStringLiteral("--fetch-timeout"), QStringLiteral("300"),
                                   QStringLiteral("--csv"), csvName, seed},
                                  cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, 0);
        const ExpectedBatch expected = expectedBatch(graphSize, seed, true, share);
        QVERIFY(expected.failed > 0);
        QFile file(csvName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), csvOf(expected.rows));
        QVERIFY2(run.lastProgress().contains(
                     QStringLiteral(", rows %1, failed %2,").arg(expected.rows.size()).arg(expected.failed)),
                 qPrintable(run.lastProgress()));
    }

    void interruptWritesTheRowsSoFar()
    {
        const int graphSize = 200;
        const QString seed = QStringLiteral("连衣裙");
        SimProcess sim(simArguments(graphSize, {QStringLiteral("--latency"), QStringLiteral("50")}));
        QVERIFY(sim.port());
        QTemporaryDir folder;
        const QString csvName = folder.filePath(QStringLiteral("partial.csv"));
        QProcess process;
        startCli(process,
                 {QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                  QStringLiteral("--csv"), csvName, seed},
                 cliEnvironment(sim.hostAndPort()));
        // Progress lines come once a second when standard error is not a terminal.
        QByteArray progress;
        QTRY_VERIFY_WITH_TIMEOUT((progress += process.readAllStandardError()).contains("pages "), 15'000);
        ::kill(pid_t(process.processId()), SIGINT);
        const CliRun run = finish(process);
        QCOMPARE(run.exitCode, 130);

        const QStringList last = run.lastProgress().split(QStringLiteral(", "));
        const int rows = last.value(2).section(QLatin1Char(' '), 1).toInt();
        const ExpectedBatch whole = expectedBatch(graphSize, seed, true);
        QVERIFY2(rows > 0 && rows < whole.rows.size(), qPrintable(run.lastProgress()));
        QFile file(csvName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), csvOf(whole.rows.first(rows)));
    }

    // Ctrl-C at the password prompt of a real terminal leaves echo on.
    void interruptAtThePasswordPrompt()
    {
        const QByteArray program =
            QFile::encodeName(testsupport::builtExecutable(QStringLiteral("src/cli/quillmarsh-cli")));
        int terminal = -1;
        const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        QVERIFY(child >= 0);
        if (child == 0) {
            ::unsetenv("QUILLMARSH_PASSWORD");
            ::setenv("QUILLMARSH_ACCOUNT_HOST", "127.0.0.1:1", 1);
            ::execl(program.constData(), program.constData(), "login", "demo", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        const auto closeTerminal = qScopeGuard([terminal] { ::close(terminal); });
        QByteArray shown;
        QElapsedTimer clock;
        clock.start();
        while (!shown.contains("密码：") && clock.elapsed() < 10'000) {
            pollfd ready{terminal, POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0) {
                char bytes[256];
                const ssize_t count = ::read(terminal, bytes, sizeof bytes);
                if (count <= 0)
                    break;
                shown.append(bytes, count);
            }
        }
        QVERIFY2(shown.contains("密码："), shown.constData());
        QTRY_VERIFY([terminal] {
            termios prompting = {};
            return ::tcgetattr(terminal, &prompting) == 0 && !(prompting.c_lflag & ECHO);
        }());

        QCOMPARE(::write(terminal, "\x03", 1), ssize_t(1)); // the terminal's interrupt character
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGINT);
        termios after = {};
        QCOMPARE(::tcgetattr(terminal, &after), 0);
        QVERIFY(after.c_lflag & ECHO);
    }

    void unwritableFile()
    {
        SimProcess sim(simArguments(5));
        QVERIFY(sim.port());
        QTemporaryDir folder;
        const QString csvName = folder.filePath(QStringLiteral("missing/table.csv"));
        const CliRun run = runCli({QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                                   QStringLiteral("--csv"), csvName, QStringLiteral("连衣裙")},
                                  cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errorLines().constLast().startsWith(
                     QStringLiteral("Cannot create file \"%1\". ").arg(csvName)),
                 qPrintable(run.errorLines().constLast()));
    }

    void refusedLoginFetchesNothing()
    {
        QTemporaryDir folder;
        const QString log = folder.filePath(QStringLiteral("access.log"));
        SimProcess logged(simArguments(5, {QStringLiteral("--access-log"), log}));
        QVERIFY(logged.port());
        QProcessEnvironment environment = cliEnvironment(logged.hostAndPort());
        environment.insert(QStringLiteral("QUILLMARSH_PASSWORD"), QStringLiteral("wrong"));
        const CliRun run = runCli({QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                                   QStringLiteral("连衣裙")},
                                  environment);
        QCOMPARE(run.exitCode, 3);
        QVERIFY(run.out.isEmpty());
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> targets = file.readAll().split('\n');
        QCOMPARE(targets.size(), 2); // one line, ended
        QVERIFY(targets.first().startsWith("/click_user.asp?"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString usage = QStringLiteral("usage: quillmarsh-cli");
        QTest::newRow("no command") << QStringList() << usage;
        QTest::newRow("unknown command") << QStringList{QStringLiteral("search")} << usage;
        QTest::newRow("login without a user") << QStringList{QStringLiteral("login")} << usage;
        QTest::newRow("password as an argument")
            << QStringList{QStringLiteral("login"), QStringLiteral("demo"), QStringLiteral("--password=demo")}
            << usage;
        QTest::newRow("query without a user")
            << QStringList{QStringLiteral("query"), QStringLiteral("连衣裙")} << usage;
        QTest::newRow("query without a seed")
            << QStringList{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo")}
            << usage;
        QTest::newRow("unknown sort")
            << QStringList{QStringLiteral("query"),  QStringLiteral("--user"), QStringLiteral("demo"),
                           QStringLiteral("--sort"), QStringLiteral("name"),   QStringLiteral("连衣裙")}
            << usage;
        QTest::newRow("parallel out of range")
            << QStringList{QStringLiteral("query"),      QStringLiteral("--user"), QStringLiteral("demo"),
                           QStringLiteral("--parallel"), QStringLiteral("17"),     QStringLiteral("连衣裙")}
            << QStringLiteral("--parallel takes a whole number from 1 to 16");
        QTest::newRow("empty seed") << QStringList{QStringLiteral("query"), QStringLiteral("--user"),
                                                   QStringLiteral("demo"), QString()}
                                    << QStringLiteral("请输入关键词！");
        QTest::newRow("the prompt as seed")
            << QStringList{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo"),
                           QStringLiteral("请输入关键词")}
            << QStringLiteral("请输入关键词！");
    }
    // Refused before the login, by the option and from the environment alike.
    void badProfileIsRefused()
    {
        QTemporaryDir folder;
        const QString profile = folder.filePath(QStringLiteral("shop.ini"));
        QVERIFY(testsupport::writeFile(profile, "[price]\nopen = <b>\noffset = 3x\n"));
        RawHttpServer server;
        const QStringList query{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo")};
        const QString seed = QStringLiteral("连衣裙");
        QProcessEnvironment environment = cliEnvironment(server.hostAndPort());
        const CliRun byOption =
            runCli(query + QStringList{QStringLiteral("--profile"), profile, seed}, environment);
        environment.insert(QStringLiteral("QUILLMARSH_MARKET_PROFILE"), profile);
        const CliRun byEnvironment = runCli(query + QStringList{seed}, environment);
        for (const CliRun &run : {byOption, byEnvironment}) {
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.errorLines().value(0) ==
                         QStringLiteral("quillmarsh-cli: shop.ini line 3: [price] offset: not a whole number "
                                        "from 0 to 1000000"),
                     run.err.constData());
        }
        QCOMPARE(server.requestCount(), 0);
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        SimProcess sim(simArguments(5));
        QVERIFY(sim.port());
        const CliRun run = runCli(arguments, cliEnvironment(sim.hostAndPort()));
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
