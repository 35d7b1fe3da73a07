#pragma once

#include "query/pageoutcome.h"
#include "query/pendingretry.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>

// The run history: every batch, its queue with depth and parent, each
// dispatched keyword's outcome and each row's cells, in one SQLite file in
// WAL mode. One object owns one connection; all its calls throw HistoryError.
namespace history {

// In this order in stateName().
enum class RunState
{
    Running,
    Stopped,
    Interrupted, // the process that ran it died without ending it
    Finished
};
QString stateName(RunState state);

class HistoryError
{
public:
    enum Kind
    {
        DiskFull,
        Locked,
        Damaged,
        NewerVersion,
        Other
    };
    HistoryError(Kind kind, QString message) : m_kind(kind), m_message(std::move(message)) {}
    Kind kind() const { return m_kind; }
    const QString &message() const { return m_message; }

private:
    Kind m_kind;
    QString m_message;
};

// What shapes a run's queue, kept so that a resume walks the same way.
struct RunOptions
{
    QByteArray seed;
    QByteArray filterText; // the keyword box text that harvested keywords must contain
    bool mustContain = true;
    QList<QByteArray> excludedWords; // related keywords holding one are not queued (folded)
    QByteArray user;
    // The crawling limits that decide which lines are fetched and queued
    // (CrawlSettings::maxKeywords, maxDepth and retries).
    int maxKeywords = 0;
    int maxDepth = -1;
    int retries = 0;
};

struct RunSummary
{
    qint64 id = 0;
    QDateTime started;
    QDateTime ended; // invalid while running
    QByteArray seed;
    RunState state = RunState::Running;
    int pages = 0;
    int rows = 0;
    int failures = 0;
};

struct QueuedKeyword
{
    QByteArray keyword;
    int depth = 0;
    int parent = -1; // the line whose page listed it; -1 for the seed
};

// A run as far as it went: enough to show its table or to continue it.
struct StoredRun
{
    RunSummary summary;
    RunOptions options;
    QList<QueuedKeyword> queue;  // empty unless asked for
    int position = 0;            // the first line with neither an outcome nor a retry waiting
    QSet<int> handled;           // later lines with either (a retried line ends after them)
    QList<PendingRetry> retries; // waiting when it was cut short, in the order they fell due
    int rowsMade = 0;            // rows numbered before the run began plus its rows
    int excludedCount = 0;       // candidates its exclusion words kept out of the queue
    // Each row's six cells, then its details (depth, parent keyword, and the
    // title, price and sales of each listed item), in the order they were made.
    QList<QList<QByteArray>> rows;
};

class Database
{
public:
    // The schema version this program writes.
    static constexpr int SchemaVersion = 3;

    struct Opened;
    // Opens or creates the file. A damaged file is renamed aside and a new
    // one started (notice() says so); a file from a newer schema is refused
    // untouched, as is one another program keeps locked.
    explicit Database(const QString &fileName);
    ~Database();
    Q_DISABLE_COPY_MOVE(Database)

    // What the opening had to do to the file, for the user; empty when nothing.
    const QString &notice() const { return m_notice; }
    QString fileName() const;

    qint64 beginRun(const RunOptions &options, int rowsMadeBefore);
    // Takes a run up again in this process.
    void reopenRun(qint64 id);
    // One page's part of the run: the keywords its page queued, its outcome and its row.
    struct PageRecord
    {
        QList<QueuedKeyword> queued; // lines firstLine, firstLine + 1, ...
        int firstLine = 0;
        int line = -1; // the dispatched line, -1 when only lines were queued
        PageOutcome outcome = PageOutcome::NoRow;
        qint64 fetchedMs = 0;
        QList<QByteArray> cells;    // with outcome Row
        QList<QByteArray> excluded; // candidates the page listed that an exclusion word kept out
    };
    // Writes pages and the retries scheduled among them in one transaction.
    void record(qint64 run, const QList<PageRecord> &pages, const QList<PendingRetry> &retries = {});
    void endRun(qint64 run, RunState state);

    // Newest first.
    QList<RunSummary> runs();
    // A run's table, and its queue when it is to be continued.
    enum class RunParts
    {
        Table,
        TableAndQueue
    };
    std::optional<StoredRun> run(qint64 id, RunParts parts = RunParts::TableAndQueue);
    void deleteRun(qint64 id);

private:
    class Private;
    std::unique_ptr<Private> d;
    QString m_notice;
};

} // namespace history
