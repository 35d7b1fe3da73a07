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

    int count() const { return int(m_ends.size()); }
    // Line i (0-based), cut to MaxLineLength bytes; empty at or past the end.
    QByteArray line(int i) const;
    // Some line equals text with ASCII letter case ignored (text::foldCase).
    bool holds(QByteArrayView text) const;
    // parent: the line whose page gave this one, or NoParent for the seed. A
    // line is one level deeper than its parent.
    void append(const QByteArray &line, int parent = NoParent);
    void clear();

    static constexpr int NoParent = -1;
    // Line i's parent line, NoParent for the seed or past the end.
    int parent(int i) const { return i >= 0 && i < m_links.size() ? m_links[i].parent : NoParent; }
    // How many pages lie between the seed and line i: 0 for the seed.
    int depth(int i) const { return i >= 0 && i < m_links.size() ? m_links[i].depth : 0; }

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

    // Line i whole.
    QByteArrayView storedLine(qsizetype i) const
    {
        const qsizetype start = i == 0 ? 0 : m_ends[i - 1];
        return QByteArrayView(m_bytes).sliced(start, m_ends[i] - start);
    }
    quint32 hashOf(QByteArrayView text) const;
    // The slot holding a line equal to text, or the free slot where probing stopped.
    qsizetype slotFor(QByteArrayView text, quint32 hash) const;
    void place(quint32 hash, quint32 lineAfter);

    // The lines back to back, and where each one stops: a hundred thousand
    // short lines would otherwise cost a heap block each.
    QByteArray m_bytes;
    QList<qsizetype> m_ends;
    struct Link
    {
        qint32 parent;
        qint32 depth;
    };
    QList<Link> m_links; // one per line
    QList<Slot> m_slots; // a power of two in size, at most half used
    size_t m_seed;
};
