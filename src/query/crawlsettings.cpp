#include "query/crawlsettings.h"

#include <QSettings>
#include <QtGlobal>

namespace {

const QString parallelKey = QStringLiteral("crawling/parallel");
const QString retriesKey = QStringLiteral("crawling/retries");
const QString delayKey = QStringLiteral("crawling/delayMs");
const QString jitterKey = QStringLiteral("crawling/jitterMs");
const QString maxKeywordsKey = QStringLiteral("crawling/maxKeywords");
const QString maxDepthKey = QStringLiteral("crawling/maxDepth");

} // namespace

CrawlSettings CrawlSettings::bounded() const
{
    CrawlSettings settings = *this;
    settings.parallel = qBound(1, parallel, MaxParallel);
    settings.retries = qBound(0, retries, MaxRetries);
    settings.delayMs = qBound(0, delayMs, MaxDelayMs);
    settings.jitterMs = qBound(0, jitterMs, MaxDelayMs);
    settings.maxKeywords = qMax(0, maxKeywords);
    settings.maxDepth = qMax(-1, maxDepth);
    return settings;
}

CrawlSettings CrawlSettings::read(const QSettings &settings)
{
    const CrawlSettings defaults;
    CrawlSettings read;
    read.parallel = settings.value(parallelKey, defaults.parallel).toInt();
    read.retries = settings.value(retriesKey, defaults.retries).toInt();
    read.delayMs = settings.value(delayKey, defaults.delayMs).toInt();
    read.jitterMs = settings.value(jitterKey, defaults.jitterMs).toInt();
    read.maxKeywords = settings.value(maxKeywordsKey, defaults.maxKeywords).toInt();
    read.maxDepth = settings.value(maxDepthKey, defaults.maxDepth).toInt();
    return read.bounded();
}

void CrawlSettings::write(QSettings &settings) const
{
    settings.setValue(parallelKey, parallel);
    settings.setValue(retriesKey, retries);
    settings.setValue(delayKey, delayMs);
    settings.setValue(jitterKey, jitterMs);
    settings.setValue(maxKeywordsKey, maxKeywords);
    settings.setValue(maxDepthKey, maxDepth);
}
