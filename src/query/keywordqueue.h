#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The keywords of a batch in dispatch order. Lines are only appended (the
// seed, then what the pages harvest) and only cleared all at once. An index
// of the case-folded lines keeps holds() constant-time however long the batch
// runs.
class KeywordQueue
{
public:
    // Longest line that line() gives back.
    static constexpr qsizetype MaxLineLength = 4096;

    KeywordQueue();

    int count() const { return int(m_lines.size()); }
    // Line i (0-based), cut to MaxLineLength bytes; empty at or past the end.
    QByteArray line(int i) const;
    // Some line equals text with ASCII letter case ignored (text::foldCase).
    bool holds(QByteArrayView text) const;
    void append(const QByteArray &line);
    void clear();

private:
    // Open addressing with linear probing: a slot holds the hash of a folded
    // line and that line's number + 1 (0: free). Comparing hashes first
    // means a probe reads the lines themselves only for a likely match, so a
    // lookup costs about one memory access even at a million lines.
    struct Slot
    {
        quint32 hash = 0;
        quint32 lineAfter = 0;
    };

    quint32 hashOf(QByteArrayView text) const;
    // The slot holding a line equal to text, or the free slot where probing stopped.
    qsizetype slotFor(QByteArrayView text, quint32 hash) const;
    void place(quint32 hash, quint32 lineAfter);

    QList<QByteArray> m_lines;
    QList<Slot> m_slots; // a power of two in size, at most half used
    size_t m_seed;
};
