#include "query/keywordfilter.h"

#include "text/bytetext.h"
#include "text/gbk.h"

#include <QRegularExpression>
#include <algorithm>

bool KeywordFilter::excludes(QByteArrayView foldedCandidate) const
{
    return std::any_of(excludedWords.begin(), excludedWords.end(), [foldedCandidate](const QByteArray &word) {
        return text::position(word, foldedCandidate) > 0;
    });
}

QList<QByteArray> KeywordFilter::exclusionWords(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,，、]+"));
    QList<QByteArray> words;
    for (const QString &word : text.split(separators, Qt::SkipEmptyParts))
        words.append(text::foldCase(text::toGbk(word)));
    return words;
}
