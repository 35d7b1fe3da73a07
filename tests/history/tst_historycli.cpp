#include "simprocess.h"
#include "smalldisk.h"
#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <optional>

using testsupport::SimProcess;
using testsupport::SmallDisk;

namespace {

const QString seed = QStringLiteral("连衣裙");

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// quillmarsh-cli against one simulator, with its data folder and working
// files in folders of the test's choosing.
class Cli
{
public:
    Cli(const QByteArray &hostAndPort, const QString &dataFolder)
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("QUILLMARSH_MARKET_HOST"), QString::fromLatin1(hostAndPort));
        m_environment.insert(QStringLiteral("QUILLMARSH_ACCOUNT_HOST"), QString::fromLatin1(hostAndPort));
        m_environment.insert(QStringLiteral("QUILLMARSH_PASSWORD"), QStringLiteral("demo"));
        m_environment.insert(QStringLiteral("QUILLMARSH_DATA_DIR"), dataFolder);
    }

    void start(QProcess &process, const QStringList &arguments) const
    {
        process.setProcessEnvironment(m_environment);
        process.start(testsupport::builtExecutable(QStringLiteral("src/cli/quillmarsh-cli")), arguments);
        process.closeWriteChannel();
    }

    Finished run(const QStringList &arguments) const
    {
        QProcess process;
        start(process, arguments);
        Finished finished;
        if (!process.waitForFinished(120'000))
            return finished;
        finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        finished.out = process.readAllStandardOutput();
        finished.err = QString::fromUtf8(process.readAllStandardError());
        return finished;
    }

    QByteArray csvOf(const QStringList &arguments, const QString &csvFile) const
    {
        const Finished finished = run(arguments + QStringList{QStringLiteral("--csv"), csvFile});
        if (finished.exitCode != 0)
            qWarning().noquote() << arguments << "exit" << finished.exitCode << finished.err;
        QFile file(csvFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QProcessEnvironment m_environment;
};

QStringList query(const QStringList &more = {})
{
    return QStringList{QStringLiteral("query"), QStringLiteral("--user"), QStringLiteral("demo")} + more;
}

// Opens the file with a connection of the test's own.
class Inspector
{
public:
    explicit Inspector(const QString &fileName) : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(fileName);
        db.open();
    }
    ~Inspector() { QSqlDatabase::removeDatabase(m_name); }
    Q_DISABLE_COPY_MOVE(Inspector)

    QSqlDatabase db() const { return QSqlDatabase::database(m_name); }
    QVariant value(const QString &sql) const
    {
        QSqlQuery query(db());
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    QString m_name;
};

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList historyLines(const Cli &cli)
{
    return QString::fromUtf8(cli.run({QStringLiteral("history")}).out)
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

// The command line's history: every query recorded, listed, exported,
// compared and continued, by real processes on real files, also when the
// process is killed, the disk fills up, another program holds the database
// or the file is damaged.
class TestHistoryCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordedListedExported()
    {
        SimProcess sim({QStringLiteral("--graph-size"), QStringLiteral("120"), QStringLiteral("--fail-share"),
                        QStringLiteral("0.1")});
        QVERIFY(sim.port() != 0);
        QTemporaryDir work;
        const Cli cli(sim.hostAndPort(), work.filePath(QStringLiteral("data")));

        const QByteArray unrecorded = cli.csvOf(query({QStringLiteral("--no-history"), seed}),
                                                work.filePath(QStringLiteral("plain.csv")));
        QVERIFY(unrecorded.count("\r\n") > 50);
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("data/history.sqlite"))));
        QCOMPARE(cli.csvOf(query({seed}), work.filePath(QStringLiteral("recorded.csv"))), unrecorded);

        const QStringList lines = historyLines(cli);
        QCOMPARE(lines.size(), 1);
        const QStringList fields = lines.first().split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 7);
        QCOMPARE(fields[0], QStringLiteral("1"));
        QVERIFY2(QDateTime::fromString(fields[1], Qt::ISODate).isValid(), qPrintable(fields[1]));
        QCOMPARE(fields[2], seed);
        QCOMPARE(fields[3], QStringLiteral("finished"));
        const int rows = int(unrecorded.count("\r\n")) - 1;
        QCOMPARE(fields[5].toInt(), rows);
        QVERIFY(fields[6].toInt() > 0);
        QVERIFY(fields[4].toInt() >= rows + fields[6].toInt());

        QCOMPARE(cli.csvOf({QStringLiteral("export"), QStringLiteral("1")},
                           work.filePath(QStringLiteral("e.csv"))),
                 unrecorded);
        const QByteArray sorted = cli.csvOf(
            query({QStringLiteral("--no-history"), QStringLiteral("--sort"), QStringLiteral("sales"), seed}),
            work.filePath(QStringLiteral("sorted.csv")));
        QCOMPARE(cli.csvOf({QStringLiteral("export"), QStringLiteral("1"), QStringLiteral("--sort"),
                            QStringLiteral("sales")},
                           work.filePath(QStringLiteral("es.csv"))),
                 sorted);

        // A past run is written in every format a query writes: its JSON, with the derived values and
        // the listed items, equals a fresh batch's.
        const Finished freshJson = cli.run(query(
            {QStringLiteral("--no-history"), QStringLiteral("--format"), QStringLiteral("json"), seed}));
        const Finished exportedJson = cli.run({QStringLiteral("export"), QStringLiteral("1"),
                                               QStringLiteral("--format"), QStringLiteral("json")});
        QCOMPARE(exportedJson.exitCode, 0);
        QVERIFY(freshJson.out.startsWith('['));
        QCOMPARE(exportedJson.out, freshJson.out);

        const Finished missing = cli.run({QStringLiteral("export"), QStringLiteral("7")});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.contains(QStringLiteral("no run 7")), qPrintable(missing.err));
    }

    // Killed at random moments, the batch's own writes included, then resumed
    // each time: the file stays sound and the finished table is the one an
    // uninterrupted batch makes.
    void killedAndResumed()
    {
        // 2,000 pages at 5 ms each take ten seconds or more, so the four kills (under 0.9 s each, 3.6 s
        // in all) always land while pages remain, however fast the machine.
        SimProcess sim({QStringLiteral("--graph-size"), QStringLiteral("2000"),
                        QStringLiteral("--fail-share"), QStringLiteral("0.05"), QStringLiteral("--latency"),
                        QStringLiteral("5")});
        QVERIFY(sim.port() != 0);
        QTemporaryDir work;
        const QString data = work.filePath(QStringLiteral("data"));
        const Cli cli(sim.hostAndPort(), data);
        const QByteArray uninterrupted = cli.csvOf(query({QStringLiteral("--no-history"), seed}),
                                                   work.filePath(QStringLiteral("whole.csv")));
        QVERIFY(uninterrupted.count("\r\n") > 300);

        const quint32 randomSeed = QRandomGenerator::global()->generate();
        qInfo("random seed %u", randomSeed);
        QRandomGenerator random(randomSeed);
        QStringList arguments = query({seed});
        constexpr int kills = 4;
        for (int i = 0; i < kills; ++i) {
            QProcess process;
            cli.start(process, arguments + QStringList{QStringLiteral("--csv"),
                                                       work.filePath(QStringLiteral("cut.csv"))});
            QVERIFY(process.waitForStarted());
            if (process.waitForFinished(random.bounded(100, 900)))
                QFAIL(qPrintable(QStringLiteral("the batch ended before it could be killed: exit %1: %2")
                                     .arg(process.exitCode())
                                     .arg(QString::fromUtf8(process.readAllStandardError().right(600)))));
            process.kill();
            QVERIFY(process.waitForFinished());
            Inspector inspector(data + QStringLiteral("/history.sqlite"));
            QCOMPARE(inspector.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                     QStringLiteral("ok"));
            QVERIFY(historyLines(cli).first().contains(QStringLiteral("\tinterrupted\t")));
            arguments = query({QStringLiteral("--resume"), QStringLiteral("last")});
        }
        QCOMPARE(cli.csvOf(arguments, work.filePath(QStringLiteral("resumed.csv"))), uninterrupted);
        const QStringList lines = historyLines(cli);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral("\tfinished\t")), qPrintable(lines.first()));
        Inspector inspector(data + QStringLiteral("/history.sqlite"));
        QCOMPARE(inspector.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    }

    // Two runs of one seed against marketplaces that list different keywords.
    void diffOfTwoRuns()
    {
        QTemporaryDir work;
        const QString data = work.filePath(QStringLiteral("data"));
        QByteArray tables[2];
        const QStringList simArguments[2] = {{QStringLiteral("--graph-size"), QStringLiteral("80")},
                                             {QStringLiteral("--graph-size"), QStringLiteral("100"),
                                              QStringLiteral("--fail-share"), QStringLiteral("0.1")}};
        for (int i = 0; i < 2; ++i) {
            SimProcess sim(simArguments[i]);
            QVERIFY(sim.port() != 0);
            tables[i] = Cli(sim.hostAndPort(), data)
                            .csvOf(query({seed}), work.filePath(QStringLiteral("run%1.csv").arg(i)));
        }
        // Keywords of each table, from the CSV's second field.
        QSet<QString> keywords[2];
        for (int i = 0; i < 2; ++i) {
            const QStringList lines =
                text::fromGbk(tables[i]).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            for (qsizetype line = 1; line < lines.size(); ++line)
                keywords[i].insert(lines[line].section(QLatin1Char(','), 1, 1));
        }
        const QSet<QString> added = keywords[1] - keywords[0];
        const QSet<QString> vanished = keywords[0] - keywords[1];
        QVERIFY(!added.isEmpty());
        QVERIFY(!vanished.isEmpty());

        const Cli cli("127.0.0.1:9", data);
        const Finished json = cli.run({QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("2"),
                                       QStringLiteral("--format"), QStringLiteral("json")});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject diff = QJsonDocument::fromJson(json.out).object();
        const auto keywordsIn = [&diff](const QString &list) {
            QSet<QString> found;
            for (const QJsonValue &entry : diff.value(list).toArray())
                found.insert(entry[QStringLiteral("keyword")].toString());
            return found;
        };
        QCOMPARE(keywordsIn(QStringLiteral("new")), added);
        QCOMPARE(keywordsIn(QStringLiteral("vanished")), vanished);
        // The simulator's figures depend on the keyword alone.
        QVERIFY(diff.value(QStringLiteral("changed")).toArray().isEmpty());
        const QJsonObject firstNew = diff.value(QStringLiteral("new")).toArray().first().toObject();
        QVERIFY(firstNew[QStringLiteral("item_count")][QStringLiteral("old")].isNull());
        QVERIFY(firstNew[QStringLiteral("item_count")][QStringLiteral("new")].toDouble() > 0);

        const Finished text = cli.run({QStringLiteral("diff"), QStringLiteral("1"), QStringLiteral("2")});
        QCOMPARE(text.exitCode, 0);
        const QStringList lines = QString::fromUtf8(text.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), added.size() + vanished.size());
        for (const QString &line : lines) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 14);
            QVERIFY2(fields[0] == QLatin1String("new") ? added.contains(fields[1])
                                                       : vanished.contains(fields[1]),
                     qPrintable(line));
        }
    }

    // The batch goes on whatever happens to its history; the user hears why once.
    void historyFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("told");
        QTest::newRow("disk fills up") << QStringLiteral("full") << QStringLiteral("磁盘已满");
        QTest::newRow("locked by another program")
            << QStringLiteral("locked") << QStringLiteral("正被另一个程序占用");
        QTest::newRow("damaged file") << QStringLiteral("damaged") << QStringLiteral("已损坏");
        QTest::newRow("newer version") << QStringLiteral("newer") << QStringLiteral("来自更新版本");
    }
    void historyFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, told);
        SmallDisk disk(QStringLiteral("4m"));
        if (fault == QLatin1String("full") && !disk.isMounted())
            QSKIP("mounting a tmpfs is not permitted here");
        QTemporaryDir work;
        const QString data = fault == QLatin1String("full") ? disk.filePath(QStringLiteral("data"))
                                                            : work.filePath(QStringLiteral("data"));
        const QString file = data + QStringLiteral("/history.sqlite");
        SimProcess sim({QStringLiteral("--graph-size"), QStringLiteral("800")});
        QVERIFY(sim.port() != 0);
        const Cli cli(sim.hostAndPort(), data);
        const QByteArray whole = cli.csvOf(query({QStringLiteral("--no-history"), seed}),
                                           work.filePath(QStringLiteral("whole.csv")));
        // A first run in the history, which nothing below may lose.
        SimProcess smallSim({QStringLiteral("--graph-size"), QStringLiteral("50")});
        const QByteArray first = Cli(smallSim.hostAndPort(), data)
                                     .csvOf(query({seed}), work.filePath(QStringLiteral("first.csv")));
        QVERIFY(first.count("\r\n") > 20);

        std::optional<Inspector> holder;
        QSqlQuery *lock = nullptr;
        std::optional<QSqlQuery> lockQuery;
        if (fault == QLatin1String("full")) {
            // Room for a part of the batch's history, not for all of it.
            disk.fill();
            QFile filler(disk.filePath(QStringLiteral("filler")));
            QVERIFY(filler.resize(filler.size() - 64 * 1024));
        } else if (fault == QLatin1String("locked")) {
            holder.emplace(file);
            lockQuery.emplace(holder->db());
            lock = &*lockQuery;
            QVERIFY(lock->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        } else if (fault == QLatin1String("damaged")) {
            QFile::remove(file);
            QFile damaged(file);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(QByteArray(8192, '\x5a'));
        } else {
            Inspector(file).value(QStringLiteral("PRAGMA user_version=99"));
        }
        const QByteArray before = readFile(file);

        const Finished batch =
            cli.run(query({QStringLiteral("--csv"), work.filePath(QStringLiteral("b.csv")), seed}));
        QCOMPARE(batch.exitCode, 0);
        QCOMPARE(readFile(work.filePath(QStringLiteral("b.csv"))), whole);
        QVERIFY2(batch.err.count(told) == 1, qPrintable(batch.err));
        if (lock)
            QVERIFY(lock->exec(QStringLiteral("ROLLBACK")));
        lockQuery.reset();
        holder.reset();

        if (fault == QLatin1String("damaged")) {
            const QStringList aside = QDir(data).entryList({QStringLiteral("history.sqlite.damaged-*")});
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readFile(data + QLatin1Char('/') + aside.first()), QByteArray(8192, '\x5a'));
            QCOMPARE(historyLines(cli).size(), 1); // the new file holds the new run
            return;
        }
        if (fault == QLatin1String("newer")) {
            QCOMPARE(readFile(file), before);
            QCOMPARE(cli.run({QStringLiteral("history")}).exitCode, 1);
            return;
        }
        if (fault == QLatin1String("full"))
            QFile::remove(disk.filePath(QStringLiteral("filler")));
        Inspector inspector(file);
        QCOMPARE(inspector.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        QCOMPARE(cli.csvOf({QStringLiteral("export"), QStringLiteral("1")},
                           work.filePath(QStringLiteral("e.csv"))),
                 first);
    }
};

QTEST_GUILESS_MAIN(TestHistoryCli)
#include "tst_historycli.moc"
