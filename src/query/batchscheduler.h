#pragma once

#include "query/keywordfilter.h"
#include "query/keywordqueue.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class PageFetcher;
class ResultsModel;

// Runs batch queries: start, dispatch tick, end check and stop, with at most
// one page fetch in flight. The window passes its live controls through the
// filter source and shows the texts this object emits; the command-line front
// end passes fixed values.
class BatchScheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchScheduler)

public:
    using FilterSource = std::function<KeywordFilter()>;

    BatchScheduler(ResultsModel *results, FilterSource filter, QObject *parent = nullptr);
    ~BatchScheduler() override;

    // Defaults: dispatch 1 ms, end check 10,000 ms, fetch time-out 30,000 ms,
    // body limit 64 MiB.
    void setDispatchInterval(int ms);
    void setEndCheckInterval(int ms);
    void setFetchTimeout(int ms);
    void setFetchBodyLimit(qint64 bytes);

    // The keyword box's initial text; a batch never starts from it.
    static QString keywordPrompt();

    // The batch button: refuses an empty seed or the untouched prompt (emits
    // message("请输入关键词！") and returns false), otherwise starts the batch.
    // Like the disabled button, does nothing (returns false) from a start
    // until the next stop: a second dispatch chain would put two fetches in
    // flight.
    bool start(const QByteArray &seed);
    // The stop button.
    void stop();

    // The queue line the next dispatch takes (0-based).
    int nextPosition() const;
    // Rows this scheduler has numbered, over all its batches.
    int rowsMade() const;
    int queueCount() const;
    // Keywords of this batch whose page could not be fetched; reset by start.
    int failedCount() const;
    // Related keywords of this batch left unqueued for an exclusion word; reset by start.
    int excludedCount() const;
    bool batchButtonEnabled() const;
    const KeywordQueue &queue() const;

Q_SIGNALS:
    void message(const QString &text);          // "请输入关键词！", "查询完成！"
    void totalTextChanged(const QString &text); // status panel 1: "总：" + count - 1
    void doneTextChanged(const QString &text);  // status panel 2: "完成：" + nextPosition
    void batchButtonEnabledChanged(bool enabled);
    void failedCountChanged(int failed);
    void excludedCountChanged(int excluded);
    void ended(); // the batch has drained and its end was announced

private:
    class Private;

    void dispatchNext();
    void fetch(int position);
    void pageArrived(int position, const QByteArray &page);
    void fetchFailed();
    void pageDone();
    void releaseFetch();
    void checkEnd();
    void setBatchButtonEnabled(bool enabled);

    std::unique_ptr<Private> d;
};
