#include "keywordgraph.h"

#include <algorithm>

namespace sim {

namespace {

// FNV-1a over the UTF-8 bytes: stable across processes, runs and platforms,
// unlike qHash with its per-process seed.
quint64 stableHash(const QString &text)
{
    quint64 hash = 14695981039346656037ull;
    for (const char byte : text.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ull;
    }
    return hash;
}

// splitmix64: a small, well-mixed sequence from one hash.
class Sequence
{
public:
    explicit Sequence(quint64 seed) : m_state(seed) {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform enough in [0, bound) for page figures.
    qint64 below(qint64 bound) { return bound <= 0 ? 0 : static_cast<qint64>(next() % quint64(bound)); }

private:
    quint64 m_state;
};

QStringList words(const char *spaceSeparated)
{
    return QString::fromUtf8(spaceSeparated).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

const QStringList &titleWords()
{
    static const QStringList list =
        words("2024新款 夏季 韩版 显瘦 气质 洋气 减龄 网红同款 时尚 百搭 高级感 小众设计 包邮 清仓 正品 "
              "旗舰店 爆款 特价 透气 女装 新品 舒适 简约");
    return list;
}

QString swappedCase(const QString &text)
{
    QString swapped = text;
    for (QChar &c : swapped) {
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = c.toUpper();
        else if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = c.toLower();
    }
    return swapped;
}

qint64 parentIndex(qint64 index)
{
    return (index - 1) / KeywordGraph::Arity;
}

} // namespace

const QStringList &KeywordGraph::suffixWords()
{
    static const QStringList list =
        words("夏 长款 短款 修身 显瘦 韩版 雪纺 碎花 中长款 V领 ins风 法式 复古 气质 宽松 "
              "大码 高腰 蕾丝 针织 白色 黑色 2024新款 学生 小个子 收腰 百搭 春秋 冬季 "
              "纯棉 条纹");
    return list;
}

const QStringList &KeywordGraph::otherProducts()
{
    static const QStringList list = words("半身裙 衬衫 T恤 牛仔裤 卫衣 外套 凉鞋 手提包 防晒衣 睡衣");
    return list;
}

QString KeywordGraph::Node::key() const
{
    return root.toCaseFolded() + QChar(0x1f) + QString::number(index);
}

QStringList KeywordGraph::childWords(const QString &rootKey, qint64 index, const QStringList &path) const
{
    // Children are numbered index * Arity + 1 ... in the breadth-first tree;
    // those at or past the size do not exist.
    const qint64 first = index * Arity + 1;
    const qint64 count = std::clamp<qint64>(m_size - first, 0, Arity);
    QStringList candidates;
    for (const QString &word : suffixWords())
        if (!path.contains(word))
            candidates.append(word);
    Sequence sequence(stableHash(rootKey + QChar(0x1f) + QString::number(index)));
    QStringList chosen;
    while (chosen.size() < count && !candidates.isEmpty())
        chosen.append(candidates.takeAt(sequence.below(candidates.size())));
    return chosen;
}

KeywordGraph::Node KeywordGraph::locate(const QString &keyword) const
{
    // The longest tail of suffix words that forms a path in the tree of the
    // text before it; with none, the whole keyword is a root.
    const QStringList tokens = keyword.split(QLatin1Char(' '));
    for (qsizetype tail = tokens.size() - 1; tail > 0; --tail) {
        Node node{tokens.first(tokens.size() - tail).join(QLatin1Char(' ')), {}, 0};
        const QString rootKey = node.root.toCaseFolded();
        bool walked = true;
        for (const QString &token : tokens.sliced(tokens.size() - tail)) {
            const QStringList children = childWords(rootKey, node.index, node.path);
            const auto found = std::find_if(children.begin(), children.end(), [&token](const QString &word) {
                return word.compare(token, Qt::CaseInsensitive) == 0;
            });
            if (found == children.end()) {
                walked = false;
                break;
            }
            node.index = node.index * Arity + 1 + (found - children.begin());
            node.path.append(*found);
        }
        if (walked)
            return node;
    }
    return {keyword, {}, 0};
}

QStringList KeywordGraph::related(const QString &keyword) const
{
    const Node node = locate(keyword);
    const QString rootKey = node.root.toCaseFolded();
    Sequence sequence(stableHash(node.key() + QStringLiteral("related")));

    QStringList entries;
    for (const QString &word : childWords(rootKey, node.index, node.path))
        entries.append(keyword + QLatin1Char(' ') + word);
    if (!node.path.isEmpty()) {
        const QString parent = keyword.first(keyword.lastIndexOf(QLatin1Char(' ')));
        entries.append(parent);
        QStringList siblings =
            childWords(rootKey, parentIndex(node.index), node.path.first(node.path.size() - 1));
        siblings.removeAll(node.path.last());
        for (int i = 0; i < 2 && !siblings.isEmpty(); ++i)
            entries.append(parent + QLatin1Char(' ') + siblings.takeAt(sequence.below(siblings.size())));
    }
    if (const QString swapped = swappedCase(keyword); swapped != keyword)
        entries.append(swapped);
    if (node.path.isEmpty()) {
        QStringList others = otherProducts();
        others.removeIf(
            [&keyword](const QString &other) { return other.compare(keyword, Qt::CaseInsensitive) == 0; });
        for (int i = 0; i < 3 && !others.isEmpty(); ++i)
            entries.append(others.takeAt(sequence.below(others.size())));
    }
    // Real lists mix their kinds; a fixed shuffle keeps that deterministic.
    for (qsizetype i = entries.size() - 1; i > 0; --i)
        entries.swapItemsAt(i, sequence.below(i + 1));
    return entries;
}

ResultPage KeywordGraph::page(const QString &keyword) const
{
    const Node node = locate(keyword);
    const qint64 depth = node.path.size();
    Sequence sequence(stableHash(node.key() + QStringLiteral("page")));

    ResultPage page;
    page.keyword = keyword;
    page.related = related(keyword);
    if (depth > 0 && sequence.below(11) == 0) {
        page.itemCount = QStringLiteral("0");
        return page;
    }
    page.itemCount = QString::number((sequence.below(2'000'000) + 20'000) / (1 + depth * depth * 4));

    constexpr int itemsPerPage = 44;
    qint64 sales = (sequence.below(60'000) + 500) / (1 + depth);
    for (int i = 0; i < itemsPerPage; ++i) {
        ListedItem item;
        QStringList unused = titleWords();
        // The best seller's title always names the keyword; about one in four
        // further titles is listed for the keyword without naming it.
        const bool namesKeyword = i == 0 || sequence.below(4) != 0;
        item.title = unused.takeAt(sequence.below(unused.size())) + (namesKeyword ? keyword : QString());
        for (int w = 0; w < 3; ++w)
            item.title += unused.takeAt(sequence.below(unused.size()));
        static constexpr int cents[] = {0, 90, 99, 50, 80, 0};
        item.price = QStringLiteral("%1.%2")
                         .arg(9 + sequence.below(490))
                         .arg(cents[sequence.below(std::size(cents))], 2, 10, QLatin1Char('0'));
        item.sales = static_cast<int>(sales);
        page.items.append(item);
        sales = sales * (850 + sequence.below(141)) / 1000;
    }
    return page;
}

bool KeywordGraph::failsAt(const QString &keyword, double share)
{
    constexpr qint64 scale = 1'000'000;
    return Sequence(stableHash(keyword.toCaseFolded() + QStringLiteral("fail"))).below(scale) < share * scale;
}

} // namespace sim
