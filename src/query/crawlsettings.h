#pragma once

class QSettings;

// How a batch walks the marketplace. The defaults are the plain walk: one
// fetch in flight, a failed page skipped at once, no pause between requests,
// no limits.
struct CrawlSettings
{
    static constexpr int MaxParallel = 16;
    static constexpr int MaxRetries = 10;
    static constexpr int MaxDelayMs = 600'000;
    // A Retry-After of more seconds than this waits only this long.
    static constexpr int MaxRetryAfterSeconds = 60;

    // Pages fetched at once (1 to MaxParallel); they are parsed in queue order.
    int parallel = 1;
    // Further tries of a keyword whose fetch failed (0 to MaxRetries).
    int retries = 0;
    // Least time between the starts of two requests, plus a random 0 to
    // jitterMs more.
    int delayMs = 0;
    int jitterMs = 0;
    // Queue lines fetched at most; 0 means no limit.
    int maxKeywords = 0;
    // Keywords deeper than this below the seed are not queued; -1 means no limit.
    int maxDepth = -1;

    bool operator==(const CrawlSettings &) const = default;

    // Values out of range are brought into it.
    CrawlSettings bounded() const;

    // The "crawling" group of a settings file; missing keys keep the defaults.
    static CrawlSettings read(const QSettings &settings);
    void write(QSettings &settings) const;
};
