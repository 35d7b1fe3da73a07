#include "cli/batchrun.h"

#include "cli/consoleoutput.h"
#include "results/resultsmodel.h"

#include <cstdio>
#include <unistd.h>

namespace {
// The end shows within this long after the last page; the window's 10 seconds
// are for a person watching, not for a script waiting.
constexpr int endCheckMs = 20;
} // namespace

BatchRun::BatchRun(ResultsModel *results, const KeywordFilter &filter, QObject *parent)
    : QObject(parent), m_results(results), m_scheduler(results, [filter] { return filter; }),
      m_terminal(::isatty(STDERR_FILENO))
{
    m_scheduler.setEndCheckInterval(endCheckMs);
    // The next page is fetched as soon as the event loop is idle, which is what
    // the window's 1 ms tick stands for; a Qt timer of 1 ms really waits that
    // long, about a third of a page's time on loopback.
    m_scheduler.setDispatchInterval(0);
    m_progressTimer.setInterval(m_terminal ? 200 : 1000);
    connect(&m_progressTimer, &QTimer::timeout, this, &BatchRun::showProgress);
    connect(&m_scheduler, &BatchScheduler::message, this, &BatchRun::printMessage);
    connect(&m_scheduler, &BatchScheduler::seedPageUnrecognised, this, &BatchRun::printMessage);
    connect(&m_scheduler, &BatchScheduler::ended, this, &BatchRun::finish);
}

bool BatchRun::start(const QByteArray &seed)
{
    if (!m_scheduler.start(seed))
        return false;
    m_progressTimer.start();
    return true;
}

void BatchRun::stop()
{
    m_scheduler.stop();
    finish();
}

void BatchRun::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_progressTimer.stop();
    showProgress();
    if (m_terminal)
        std::fputs("\n", stderr);
    Q_EMIT finished();
}

void BatchRun::printMessage(const QString &text)
{
    if (m_terminal)
        std::fputs("\r\033[K", stderr);
    consoleoutput::printErrorLine(text);
}

void BatchRun::showProgress()
{
    if (m_terminal) {
        std::fputs(("\r\033[K" + progressText().toUtf8()).constData(), stderr);
        std::fflush(stderr);
    } else {
        consoleoutput::printErrorLine(progressText());
    }
}

QString BatchRun::progressText() const
{
    return QStringLiteral("pages %1, queued %2, rows %3, failed %4, excluded %5, unrecognised %6, %7 pages/s")
        .arg(m_scheduler.pagesDone())
        .arg(m_scheduler.waitingCount())
        .arg(m_results->rowCount())
        .arg(m_scheduler.failedCount())
        .arg(m_scheduler.excludedCount())
        .arg(m_scheduler.unrecognisedCount())
        .arg(m_scheduler.pagesPerSecond(), 0, 'f', 1);
}
