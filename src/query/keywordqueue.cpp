#include "query/keywordqueue.h"

#include "text/bytetext.h"

#include <QHashFunctions>
#include <algorithm>
#include <utility>

KeywordQueue::KeywordQueue() : m_seed(QHashSeed::globalSeed()) {}

QByteArray KeywordQueue::line(int i) const
{
    if (i < 0 || i >= m_ends.size())
        return {};
    const QByteArrayView whole = storedLine(i);
    return whole.first(std::min(whole.size(), MaxLineLength)).toByteArray();
}

bool KeywordQueue::holds(QByteArrayView text) const
{
    return !m_slots.isEmpty() && m_slots[slotFor(text, hashOf(text))].lineAfter != 0;
}

void KeywordQueue::append(const QByteArray &line, int parent)
{
    const bool hasParent = parent >= 0 && parent < m_links.size();
    m_links.append({hasParent ? parent : NoParent, hasParent ? m_links[parent].depth + 1 : 0});
    m_bytes.append(line);
    m_ends.append(m_bytes.size());
    if (m_ends.size() * 2 > m_slots.size()) {
        // The hashes are kept, so growing never reads the lines.
        const QList<Slot> old = std::exchange(m_slots, QList<Slot>(qMax<qsizetype>(16, m_slots.size() * 2)));
        for (const Slot &slot : old)
            if (slot.lineAfter != 0)
                place(slot.hash, slot.lineAfter);
    }
    place(hashOf(line), quint32(m_ends.size()));
}

void KeywordQueue::clear()
{
    m_bytes = {};
    m_ends = {};
    m_links = {};
    m_slots = {};
}

quint32 KeywordQueue::hashOf(QByteArrayView text) const
{
    // The seed differs per process, so a page cannot pick keywords that collide.
    const quint64 hash = qHash(QByteArrayView(text::foldCase(text)), m_seed);
    return quint32(hash ^ (hash >> 32));
}

qsizetype KeywordQueue::slotFor(QByteArrayView text, quint32 hash) const
{
    const qsizetype mask = m_slots.size() - 1;
    for (qsizetype i = hash & mask;; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (slot.lineAfter == 0 ||
            (slot.hash == hash && text::equalsIgnoringCase(storedLine(slot.lineAfter - 1), text)))
            return i;
    }
}

void KeywordQueue::place(quint32 hash, quint32 lineAfter)
{
    const qsizetype mask = m_slots.size() - 1;
    qsizetype i = hash & mask;
    while (m_slots[i].lineAfter != 0)
        i = (i + 1) & mask;
    m_slots[i] = {hash, lineAfter};
}
