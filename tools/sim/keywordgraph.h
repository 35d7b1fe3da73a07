#pragma once

#include "resultpage.h"

#include <QString>
#include <QStringList>

namespace sim {

// The marketplace's related searches as a deterministic, finite graph. Every
// keyword is a root (the seed as typed) followed by suffix words from a fixed
// vocabulary, space-separated: "连衣裙" → "连衣裙 夏" → "连衣裙 夏 长款". The
// keywords of one root form a tree of `size` nodes, numbered breadth-first with
// `Arity` children per node; a page's related list holds the node's children,
// its parent and two siblings (all of which contain the root), the keyword
// again with its letter case swapped, and on the root's own page a few other
// product words, which are roots of trees of their own.
//
// So a walk that only follows keywords containing the seed reaches exactly
// `size` keywords, and a walk that follows everything reaches at most
// (1 + otherProducts().size()) * size. Two exceptions, both by construction: a
// seed that ends in suffix words is read as a deeper keyword of a shorter
// root, and a seed that one of the other product words contains (such as
// "裙" in "半身裙") also reaches that word's tree.
//
// Everything is derived from a hash of the case-folded keyword, so the same
// keyword gives the same page in every process and on every run.
class KeywordGraph
{
public:
    static constexpr int Arity = 8;

    explicit KeywordGraph(int size) : m_size(size < 1 ? 1 : size) {}

    int size() const { return m_size; }

    // The "你是不是想找" entries of the keyword's page, in page order.
    QStringList related(const QString &keyword) const;
    // The whole page: related entries, item count (0 for about one keyword in
    // eleven below the root, which then lists no items) and 44 items, best
    // seller first.
    ResultPage page(const QString &keyword) const;

    // Whether the keyword is among the deterministic share (0..1) of keywords
    // whose page the server fails to deliver.
    static bool failsAt(const QString &keyword, double share);

    static const QStringList &suffixWords();
    static const QStringList &otherProducts();

private:
    struct Node
    {
        QString root;     // the keyword's leading part, as requested
        QStringList path; // suffix words in their vocabulary spelling
        qint64 index = 0; // breadth-first number in the root's tree
        QString key() const;
    };

    Node locate(const QString &keyword) const;
    QStringList childWords(const QString &rootKey, qint64 index, const QStringList &path) const;

    int m_size;
};

} // namespace sim
