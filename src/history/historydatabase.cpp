#include "history/historydatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QLockFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <functional>

namespace history {

namespace {

// SQLite's primary result codes that decide what the user is told.
constexpr int sqliteBusy = 5;
constexpr int sqliteLocked = 6;
constexpr int sqliteCorrupt = 11;
constexpr int sqliteFull = 13;
constexpr int sqliteNotADatabase = 26;
// The file header: 100 bytes, PRAGMA user_version big-endian at offset 60.
constexpr qsizetype sqliteHeaderSize = 100;
constexpr qsizetype userVersionOffset = 60;

// Each step takes the schema from version i to i + 1.
const char *const migrations[] = {
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY,"
    " seed BLOB NOT NULL,"
    " filter_text BLOB NOT NULL,"
    " must_contain INTEGER NOT NULL,"
    " excluded_words BLOB NOT NULL," // packed like a row's cells
    " user BLOB NOT NULL,"
    " started INTEGER NOT NULL," // milliseconds since the epoch, UTC
    " ended INTEGER,"
    " state TEXT NOT NULL,"
    " rows_made_before INTEGER NOT NULL,"
    " queued INTEGER NOT NULL DEFAULT 0,"
    " pages INTEGER NOT NULL DEFAULT 0,"
    " rows INTEGER NOT NULL DEFAULT 0,"
    " failures INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE queue ("
    " run INTEGER NOT NULL,"
    " line INTEGER NOT NULL,"
    " keyword BLOB NOT NULL,"
    " depth INTEGER NOT NULL,"
    " parent INTEGER NOT NULL,"
    " PRIMARY KEY (run, line)) WITHOUT ROWID;"
    "CREATE TABLE pages ("
    " run INTEGER NOT NULL,"
    " line INTEGER NOT NULL,"
    " outcome INTEGER NOT NULL," // 1 row, 2 no row, 3 failed
    " fetched INTEGER NOT NULL,"
    " cells BLOB," // the row's cells, with outcome 1
    " PRIMARY KEY (run, line)) WITHOUT ROWID;",
    "ALTER TABLE runs ADD COLUMN max_keywords INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE runs ADD COLUMN max_depth INTEGER NOT NULL DEFAULT -1;"
    "ALTER TABLE runs ADD COLUMN retries INTEGER NOT NULL DEFAULT 0;",
    "ALTER TABLE runs ADD COLUMN excluded INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE pages ADD COLUMN excluded BLOB;" // packed like a row's cells; NULL for none
    // Every retry as it was scheduled, in that order (rowid); one whose line
    // has no outcome yet is still waiting.
    "CREATE TABLE retries ("
    " run INTEGER NOT NULL,"
    " line INTEGER NOT NULL,"
    " attempt INTEGER NOT NULL,"
    " after INTEGER NOT NULL);"
    "CREATE INDEX retries_of_run ON retries (run);",
};

int primaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

QString stateText(RunState state)
{
    return stateName(state);
}

RunState stateFrom(const QString &text)
{
    for (RunState state : {RunState::Running, RunState::Stopped, RunState::Interrupted, RunState::Finished}) {
        if (stateName(state) == text)
            return state;
    }
    return RunState::Interrupted;
}

// A row's cells as one value: each cell's length (4 bytes, little-endian)
// and then its bytes.
QByteArray packCells(const QList<QByteArray> &cells)
{
    QByteArray bytes;
    for (const QByteArray &cell : cells) {
        const quint32 length = qToLittleEndian(quint32(cell.size()));
        bytes.append(reinterpret_cast<const char *>(&length), sizeof length);
        bytes.append(cell);
    }
    return bytes;
}

// Stops at the first cell that would run past the end.
QList<QByteArray> unpackCells(QByteArrayView bytes)
{
    QList<QByteArray> cells;
    qsizetype at = 0;
    while (bytes.size() - at >= qsizetype(sizeof(quint32))) {
        const quint32 length = qFromLittleEndian<quint32>(bytes.data() + at);
        at += sizeof(quint32);
        if (length > quint64(bytes.size() - at))
            break;
        cells.append(bytes.sliced(at, length).toByteArray());
        at += length;
    }
    return cells;
}

// The driver binds a null byte array as NULL; the columns want bytes.
QByteArray bytesOf(const QByteArray &bytes)
{
    return bytes.isNull() ? QByteArray("") : bytes;
}

QString connectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("history-%1").arg(next++);
}

} // namespace

QString stateName(RunState state)
{
    static const char *const names[] = {"running", "stopped", "interrupted", "finished"};
    return QString::fromLatin1(names[int(state)]);
}

class Database::Private
{
public:
    explicit Private(QString fileName) : fileName(std::move(fileName)), connection(connectionName()) {}
    ~Private()
    {
        queries.clear();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
    }

    [[noreturn]] void fail(const QSqlError &error) const
    {
        switch (primaryCode(error)) {
        case sqliteFull:
            throw HistoryError(HistoryError::DiskFull,
                               QStringLiteral("磁盘已满，历史记录已停止；已记录的内容都还在。"));
        case sqliteBusy:
        case sqliteLocked:
            throw HistoryError(
                HistoryError::Locked,
                QStringLiteral("历史数据库 %1 正被另一个程序占用，本次查询不记录历史。").arg(fileName));
        case sqliteCorrupt:
        case sqliteNotADatabase:
            throw HistoryError(HistoryError::Damaged,
                               QStringLiteral("历史数据库 %1 已损坏：%2").arg(fileName, error.text()));
        default:
            throw HistoryError(HistoryError::Other,
                               QStringLiteral("历史数据库 %1 出错：%2").arg(fileName, error.text()));
        }
    }

    QSqlQuery &prepared(const QString &sql)
    {
        auto found = queries.find(sql);
        if (found == queries.end()) {
            found = queries.insert(sql, QSqlQuery(db));
            // Rows are read once in order; otherwise the driver keeps them all.
            found->setForwardOnly(true);
            if (!found->prepare(sql))
                fail(found->lastError());
        }
        return *found;
    }

    void exec(QSqlQuery &query)
    {
        if (!query.exec())
            fail(query.lastError());
    }

    void exec(const QString &sql)
    {
        QSqlQuery query(db);
        if (!query.exec(sql))
            fail(query.lastError());
    }

    int userVersion()
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            fail(query.lastError());
        return query.value(0).toInt();
    }

    void connect()
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (!db.open())
            fail(db.lastError());
    }

    void disconnect()
    {
        queries.clear();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
    }

    // Reads the file's header without opening it, so that a file from a
    // newer version is left exactly as it is.
    void refuseNewer() const
    {
        QFile file(fileName);
        if (!file.exists() || file.size() == 0)
            return;
        if (!file.open(QIODevice::ReadOnly))
            throw HistoryError(HistoryError::Other,
                               QStringLiteral("历史数据库 %1 打不开：%2").arg(fileName, file.errorString()));
        const QByteArray header = file.read(sqliteHeaderSize);
        if (header.size() < sqliteHeaderSize || !header.startsWith(QByteArrayView("SQLite format 3\0", 16)))
            throw HistoryError(HistoryError::Damaged,
                               QStringLiteral("历史数据库 %1 已损坏：不是 SQLite 文件").arg(fileName));
        const int version = qFromBigEndian<qint32>(header.constData() + userVersionOffset);
        if (version > SchemaVersion)
            throw HistoryError(
                HistoryError::NewerVersion,
                QStringLiteral("历史数据库 %1 来自更新版本的 Quillmarsh（版本 %2，本程序认得 %3），"
                               "不会改动它；历史记录已关闭。")
                    .arg(fileName)
                    .arg(version)
                    .arg(SchemaVersion));
    }

    void openForWriting()
    {
        connect();
        // Writers append to the log and readers never wait for them; NORMAL
        // keeps a commit to a write() without an fsync, which survives a
        // killed process (see docs/architecture.md for the measured cost).
        exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        // A batch only appends, and reading a run goes through it once in
        // order: a small page cache does, where SQLite's default 2 MiB would
        // be an eighth of a long batch's memory.
        exec(QStringLiteral("PRAGMA cache_size=-256"));
        const int version = userVersion();
        for (int step = version; step < SchemaVersion; ++step) {
            inTransaction([this, step] {
                for (const QString &statement :
                     QString::fromLatin1(migrations[step]).split(QLatin1Char(';'), Qt::SkipEmptyParts))
                    exec(statement);
                exec(QStringLiteral("PRAGMA user_version=%1").arg(step + 1));
            });
        }
    }

    // Statements rather than the driver's transaction calls, whose errors
    // lose SQLite's code (a full disk would read as any failure).
    void inTransaction(const std::function<void()> &work)
    {
        exec(QStringLiteral("BEGIN"));
        try {
            work();
            exec(QStringLiteral("COMMIT"));
        } catch (const HistoryError &) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }

    QString lockName(qint64 run) const { return fileName + QStringLiteral("-run%1.lock").arg(run); }

    void holdLock(qint64 run)
    {
        auto lock = std::make_unique<QLockFile>(lockName(run));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            throw HistoryError(HistoryError::Locked,
                               QStringLiteral("第 %1 次查询正在另一个程序里进行。").arg(run));
        locks.insert(run, lock.release());
    }

    void releaseLock(qint64 run) { delete locks.take(run); }

    // A run recorded as running whose process is gone: nobody holds its lock.
    bool isAbandoned(qint64 run) const
    {
        if (locks.contains(run))
            return false;
        QLockFile lock(lockName(run));
        lock.setStaleLockTime(0);
        if (!lock.tryLock(0))
            return false;
        lock.unlock();
        return true;
    }

    static constexpr int busyTimeoutMs = 1000;

    QString fileName;
    QString connection;
    QSqlDatabase db;
    QHash<QString, QSqlQuery> queries;
    QHash<qint64, QLockFile *> locks;
};

Database::Database(const QString &fileName) : d(std::make_unique<Private>(fileName))
{
    try {
        d->refuseNewer();
        d->openForWriting();
    } catch (const HistoryError &error) {
        if (error.kind() != HistoryError::Damaged)
            throw;
        d->disconnect();
        const QString aside = fileName + QStringLiteral(".damaged-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            if (QFileInfo::exists(fileName + suffix))
                QFile::rename(fileName + suffix, aside + suffix);
        }
        m_notice = QStringLiteral("历史数据库 %1 已损坏，已改名为 %2 并新建了一个。").arg(fileName, aside);
        d->openForWriting();
    }
}

Database::~Database()
{
    qDeleteAll(d->locks);
}

QString Database::fileName() const
{
    return d->fileName;
}

qint64 Database::beginRun(const RunOptions &options, int rowsMadeBefore)
{
    QSqlQuery &insert = d->prepared(QStringLiteral(
        "INSERT INTO runs (seed, filter_text, must_contain, excluded_words, user, started, state,"
        " rows_made_before, max_keywords, max_depth, retries) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(bytesOf(options.seed));
    insert.addBindValue(bytesOf(options.filterText));
    insert.addBindValue(options.mustContain ? 1 : 0);
    insert.addBindValue(bytesOf(packCells(options.excludedWords)));
    insert.addBindValue(bytesOf(options.user));
    insert.addBindValue(QDateTime::currentMSecsSinceEpoch());
    insert.addBindValue(stateText(RunState::Running));
    insert.addBindValue(rowsMadeBefore);
    insert.addBindValue(options.maxKeywords);
    insert.addBindValue(options.maxDepth);
    insert.addBindValue(options.retries);
    d->exec(insert);
    const qint64 id = insert.lastInsertId().toLongLong();
    d->holdLock(id);
    return id;
}

void Database::reopenRun(qint64 id)
{
    d->holdLock(id);
    QSqlQuery &update = d->prepared(QStringLiteral("UPDATE runs SET state = ?, ended = NULL WHERE id = ?"));
    update.addBindValue(stateText(RunState::Running));
    update.addBindValue(id);
    d->exec(update);
}

void Database::record(qint64 run, const QList<PageRecord> &pages, const QList<PendingRetry> &retries)
{
    d->inTransaction([&] {
        QSqlQuery &queue = d->prepared(
            QStringLiteral("INSERT INTO queue (run, line, keyword, depth, parent) VALUES (?, ?, ?, ?, ?)"));
        QSqlQuery &page = d->prepared(QStringLiteral(
            "INSERT INTO pages (run, line, outcome, fetched, cells, excluded) VALUES (?, ?, ?, ?, ?, ?)"));
        const QVariant none{QMetaType(QMetaType::QByteArray)};
        int queued = 0, done = 0, rows = 0, failures = 0, excluded = 0;
        for (const PageRecord &record : pages) {
            for (qsizetype i = 0; i < record.queued.size(); ++i) {
                const QueuedKeyword &keyword = record.queued[i];
                queue.addBindValue(run);
                queue.addBindValue(record.firstLine + int(i));
                queue.addBindValue(keyword.keyword);
                queue.addBindValue(keyword.depth);
                queue.addBindValue(keyword.parent);
                d->exec(queue);
            }
            queued += int(record.queued.size());
            if (record.line < 0)
                continue;
            page.addBindValue(run);
            page.addBindValue(record.line);
            page.addBindValue(int(record.outcome));
            page.addBindValue(record.fetchedMs);
            page.addBindValue(record.outcome == PageOutcome::Row ? QVariant(packCells(record.cells)) : none);
            page.addBindValue(record.excluded.isEmpty() ? none : QVariant(packCells(record.excluded)));
            d->exec(page);
            ++done;
            rows += record.outcome == PageOutcome::Row;
            failures += record.outcome == PageOutcome::Failed;
            excluded += int(record.excluded.size());
        }
        QSqlQuery &retry = d->prepared(
            QStringLiteral("INSERT INTO retries (run, line, attempt, after) VALUES (?, ?, ?, ?)"));
        for (const PendingRetry &scheduled : retries) {
            retry.addBindValue(run);
            retry.addBindValue(scheduled.position);
            retry.addBindValue(scheduled.attempt);
            retry.addBindValue(scheduled.after);
            d->exec(retry);
        }
        QSqlQuery &counters = d->prepared(
            QStringLiteral("UPDATE runs SET queued = queued + ?, pages = pages + ?, rows = rows + ?,"
                           " failures = failures + ?, excluded = excluded + ? WHERE id = ?"));
        counters.addBindValue(queued);
        counters.addBindValue(done);
        counters.addBindValue(rows);
        counters.addBindValue(failures);
        counters.addBindValue(excluded);
        counters.addBindValue(run);
        d->exec(counters);
    });
}

void Database::endRun(qint64 run, RunState state)
{
    QSqlQuery &update = d->prepared(QStringLiteral("UPDATE runs SET state = ?, ended = ? WHERE id = ?"));
    update.addBindValue(stateText(state));
    update.addBindValue(QDateTime::currentMSecsSinceEpoch());
    update.addBindValue(run);
    d->exec(update);
    d->releaseLock(run);
}

namespace {

RunSummary summaryFrom(const QSqlQuery &query, const std::function<bool(qint64)> &isAbandoned)
{
    RunSummary summary;
    summary.id = query.value(0).toLongLong();
    summary.started = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong());
    if (!query.isNull(2))
        summary.ended = QDateTime::fromMSecsSinceEpoch(query.value(2).toLongLong());
    summary.seed = query.value(3).toByteArray();
    summary.state = stateFrom(query.value(4).toString());
    if (summary.state == RunState::Running && isAbandoned(summary.id))
        summary.state = RunState::Interrupted;
    summary.pages = query.value(5).toInt();
    summary.rows = query.value(6).toInt();
    summary.failures = query.value(7).toInt();
    return summary;
}

const QString summaryColumns = QStringLiteral("id, started, ended, seed, state, pages, rows, failures");

} // namespace

QList<RunSummary> Database::runs()
{
    QSqlQuery &select =
        d->prepared(QStringLiteral("SELECT %1 FROM runs ORDER BY started DESC, id DESC").arg(summaryColumns));
    d->exec(select);
    QList<RunSummary> runs;
    while (select.next())
        runs.append(summaryFrom(select, [this](qint64 id) { return d->isAbandoned(id); }));
    select.finish();
    return runs;
}

std::optional<StoredRun> Database::run(qint64 id, RunParts parts)
{
    QSqlQuery &select =
        d->prepared(QStringLiteral("SELECT %1, filter_text, must_contain, user, "
                                   "rows_made_before, excluded_words, max_keywords, max_depth, "
                                   "retries, excluded FROM runs WHERE id = ?")
                        .arg(summaryColumns));
    select.addBindValue(id);
    d->exec(select);
    if (!select.next())
        return std::nullopt;
    StoredRun run;
    run.summary = summaryFrom(select, [this](qint64 id) { return d->isAbandoned(id); });
    run.options.seed = run.summary.seed;
    run.options.filterText = select.value(8).toByteArray();
    run.options.mustContain = select.value(9).toInt() != 0;
    run.options.user = select.value(10).toByteArray();
    run.rowsMade = select.value(11).toInt();
    run.options.excludedWords = unpackCells(select.value(12).toByteArray());
    run.options.maxKeywords = select.value(13).toInt();
    run.options.maxDepth = select.value(14).toInt();
    run.options.retries = select.value(15).toInt();
    run.excludedCount = select.value(16).toInt();
    select.finish();

    QSet<int> done; // lines with an outcome
    QList<PendingRetry> scheduled;

    // A snapshot: a writer in another process cannot slip lines in between the two reads.
    d->inTransaction([&] {
        if (parts == RunParts::TableAndQueue) {
            QSqlQuery &queue = d->prepared(
                QStringLiteral("SELECT keyword, depth, parent FROM queue WHERE run = ? ORDER BY line"));
            queue.addBindValue(id);
            d->exec(queue);
            while (queue.next())
                run.queue.append(
                    {queue.value(0).toByteArray(), queue.value(1).toInt(), queue.value(2).toInt()});
            queue.finish();
        }
        QSqlQuery &pages =
            d->prepared(QStringLiteral("SELECT line, outcome, cells FROM pages WHERE run = ? ORDER BY line"));
        pages.addBindValue(id);
        d->exec(pages);
        while (pages.next()) {
            done.insert(pages.value(0).toInt());
            if (pages.value(1).toInt() == int(PageOutcome::Row))
                run.rows.append(unpackCells(pages.value(2).toByteArray()));
        }
        pages.finish();
        QSqlQuery &retries = d->prepared(
            QStringLiteral("SELECT line, attempt, after FROM retries WHERE run = ? ORDER BY rowid"));
        retries.addBindValue(id);
        d->exec(retries);
        while (retries.next())
            scheduled.append({retries.value(0).toInt(), retries.value(1).toInt(), retries.value(2).toInt()});
        retries.finish();
    });
    // Waiting: the last retry of each line without an outcome, in its place among the others.
    QSet<int> waiting;
    for (auto retry = scheduled.crbegin(); retry != scheduled.crend(); ++retry) {
        if (!done.contains(retry->position) && !waiting.contains(retry->position)) {
            waiting.insert(retry->position);
            run.retries.prepend(*retry);
        }
    }
    while (done.contains(run.position) || waiting.contains(run.position))
        ++run.position;
    for (const QSet<int> &lines : {done, waiting})
        for (const int line : lines)
            if (line > run.position)
                run.handled.insert(line);
    // In the order they were numbered: a retried line's row comes after those
    // of the lines it was retried behind.
    std::stable_sort(run.rows.begin(), run.rows.end(),
                     [](const QList<QByteArray> &a, const QList<QByteArray> &b) {
                         return a.value(0).toInt() < b.value(0).toInt();
                     });
    run.rowsMade += int(run.rows.size());
    return run;
}

void Database::deleteRun(qint64 id)
{
    d->inTransaction([&] {
        for (const QString &sql : {QStringLiteral("DELETE FROM pages WHERE run = ?"),
                                   QStringLiteral("DELETE FROM queue WHERE run = ?"),
                                   QStringLiteral("DELETE FROM retries WHERE run = ?"),
                                   QStringLiteral("DELETE FROM runs WHERE id = ?")}) {
            QSqlQuery &query = d->prepared(sql);
            query.addBindValue(id);
            d->exec(query);
        }
    });
}

} // namespace history
