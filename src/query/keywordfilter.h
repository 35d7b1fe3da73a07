#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The keyword box text, the must-contain tick and the exclusion words, read
// when a page is parsed (not when the batch starts): the user may change them
// during a batch.
struct KeywordFilter
{
    QByteArray boxText;
    bool mustContain = true;
    // Case-folded (text::foldCase) GBK words; a related keyword holding one
    // is not queued.
    QList<QByteArray> excludedWords = {};

    // Whether a case-folded candidate holds an excluded word.
    bool excludes(QByteArrayView foldedCandidate) const;

    // The words of an exclusion text, folded: separated by spaces or commas
    // (ASCII or full-width, and "、"); empty words dropped.
    static QList<QByteArray> exclusionWords(const QString &text);
};
