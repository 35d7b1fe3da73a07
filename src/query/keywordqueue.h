#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSet>

// The keywords of a batch in dispatch order. Lines are only appended (the
// seed, then what the pages harvest) and only cleared all at once. A hash of
// the case-folded lines keeps holds() constant-time however long the batch runs.
class KeywordQueue
{
public:
    // Longest line that line() gives back.
    static constexpr qsizetype MaxLineLength = 4096;

    int count() const { return int(m_lines.size()); }
    // Line i (0-based), cut to MaxLineLength bytes; empty at or past the end.
    QByteArray line(int i) const;
    // Some line equals text with ASCII letter case ignored (text::foldCase).
    bool holds(QByteArrayView text) const;
    void append(const QByteArray &line);
    void clear();

private:
    QList<QByteArray> m_lines;
    QSet<QByteArray> m_foldedLines;
};
