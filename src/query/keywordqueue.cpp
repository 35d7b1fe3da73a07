#include "query/keywordqueue.h"

#include "text/bytetext.h"

QByteArray KeywordQueue::line(int i) const
{
    if (i < 0 || i >= m_lines.size())
        return {};
    const QByteArray &whole = m_lines[i];
    return whole.size() <= MaxLineLength ? whole : whole.first(MaxLineLength);
}

bool KeywordQueue::holds(QByteArrayView text) const
{
    return m_foldedLines.contains(text::foldCase(text));
}

void KeywordQueue::append(const QByteArray &line)
{
    m_lines.append(line);
    QByteArray folded = text::foldCase(line);
    // Most keywords have no capital letter: share the line instead of keeping a second copy.
    m_foldedLines.insert(folded == line ? line : std::move(folded));
}

void KeywordQueue::clear()
{
    m_lines.clear();
    m_foldedLines.clear();
}
