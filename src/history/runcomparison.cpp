#include "history/runcomparison.h"

#include "results/csvexport.h"
#include "results/resultsmodel.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace history {

namespace {

constexpr std::array<int, 3> figureColumns = {ResultsModel::ItemCount, ResultsModel::Sales,
                                              ResultsModel::Price};

QByteArrayView cellOf(const QList<QByteArray> &row, int column)
{
    return column < row.size() ? QByteArrayView(row[column]) : QByteArrayView();
}

QByteArray keyOf(const QList<QByteArray> &row)
{
    return text::foldCase(cellOf(row, ResultsModel::Keyword));
}

QHash<QByteArray, qsizetype> indexByKeyword(const QList<QList<QByteArray>> &rows)
{
    QHash<QByteArray, qsizetype> index;
    index.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        index.insert(keyOf(rows[i]), i);
    return index;
}

// A keyword with the figures of its row in one run or both.
KeywordChange changeOf(KeywordChange::Kind kind, const QList<QByteArray> *before,
                       const QList<QByteArray> *after)
{
    KeywordChange change;
    change.kind = kind;
    change.keyword = (after ? *after : *before).value(ResultsModel::Keyword);
    for (size_t i = 0; i < figureColumns.size(); ++i) {
        if (before)
            change.figures[i].before = ResultsModel::numberIn(cellOf(*before, figureColumns[i]));
        if (after)
            change.figures[i].after = ResultsModel::numberIn(cellOf(*after, figureColumns[i]));
    }
    return change;
}

void appendFigures(QStringList &cells, const KeywordChange &change)
{
    for (const ComparedFigure &figure : change.figures)
        cells << figureText(figure.before) << figureText(figure.after) << differenceText(figure.difference())
              << percentText(figure.percent());
}

QJsonValue jsonNumber(std::optional<double> value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

} // namespace

std::optional<double> ComparedFigure::difference() const
{
    if (!before || !after)
        return std::nullopt;
    return *after - *before;
}

std::optional<double> ComparedFigure::percent() const
{
    if (!before || !after || *before == 0)
        return std::nullopt;
    return (*after - *before) / *before * 100;
}

QList<KeywordChange> compareRuns(const StoredRun &older, const StoredRun &newer)
{
    QList<KeywordChange> changes;
    const QHash<QByteArray, qsizetype> olderIndex = indexByKeyword(older.rows);
    const QHash<QByteArray, qsizetype> newerIndex = indexByKeyword(newer.rows);
    for (const QList<QByteArray> &row : newer.rows) {
        if (!olderIndex.contains(keyOf(row)))
            changes.append(changeOf(KeywordChange::New, nullptr, &row));
    }
    for (const QList<QByteArray> &row : older.rows) {
        if (!newerIndex.contains(keyOf(row)))
            changes.append(changeOf(KeywordChange::Vanished, &row, nullptr));
    }
    for (const QList<QByteArray> &row : newer.rows) {
        const auto found = olderIndex.constFind(keyOf(row));
        if (found == olderIndex.constEnd())
            continue;
        const KeywordChange change = changeOf(KeywordChange::Changed, &older.rows[*found], &row);
        if (std::any_of(change.figures.begin(), change.figures.end(),
                        [](const ComparedFigure &figure) { return figure.before != figure.after; }))
            changes.append(change);
    }
    return changes;
}

namespace {

// Name (text and JSON) and label (window and CSV) of each kind, in the enum's order.
struct KindTexts
{
    const char *name;
    const char *label;
};
constexpr KindTexts kindTexts[] = {{"new", "新出现"}, {"vanished", "消失"}, {"changed", "变化"}};

} // namespace

QString kindName(KeywordChange::Kind kind)
{
    return QString::fromLatin1(kindTexts[kind].name);
}

QString kindLabel(KeywordChange::Kind kind)
{
    return QString::fromUtf8(kindTexts[kind].label);
}

QString figureText(std::optional<double> value)
{
    if (!value)
        return {};
    QString text = QString::number(*value, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString differenceText(std::optional<double> value)
{
    const QString text = figureText(value);
    return value && *value > 0 && text != QLatin1String("0") ? QLatin1Char('+') + text : text;
}

QString percentText(std::optional<double> value)
{
    return value ? differenceText(value) + QLatin1Char('%') : QString();
}

QByteArray comparisonText(const QList<KeywordChange> &changes)
{
    QByteArray out;
    for (const KeywordChange &change : changes) {
        QStringList cells{kindName(change.kind), text::fromGbk(change.keyword)};
        appendFigures(cells, change);
        out += cells.join(QLatin1Char('\t')).toUtf8() + '\n';
    }
    return out;
}

QByteArray comparisonJson(const QList<KeywordChange> &changes, qint64 olderId, qint64 newerId)
{
    QJsonObject lists{{QStringLiteral("new"), QJsonArray()},
                      {QStringLiteral("vanished"), QJsonArray()},
                      {QStringLiteral("changed"), QJsonArray()}};
    static const std::array<QString, 3> figureNames = {QStringLiteral("item_count"), QStringLiteral("sales"),
                                                       QStringLiteral("price")};
    for (const KeywordChange &change : changes) {
        QJsonObject entry{{QStringLiteral("keyword"), text::fromGbk(change.keyword)}};
        for (size_t i = 0; i < figureNames.size(); ++i) {
            const ComparedFigure &figure = change.figures[i];
            entry.insert(figureNames[i],
                         QJsonObject{{QStringLiteral("old"), jsonNumber(figure.before)},
                                     {QStringLiteral("new"), jsonNumber(figure.after)},
                                     {QStringLiteral("difference"), jsonNumber(figure.difference())},
                                     {QStringLiteral("percent"), jsonNumber(figure.percent())}});
        }
        const QString list = kindName(change.kind);
        QJsonArray entries = lists.value(list).toArray();
        entries.append(entry);
        lists.insert(list, entries);
    }
    lists.insert(QStringLiteral("old_run"), olderId);
    lists.insert(QStringLiteral("new_run"), newerId);
    return QJsonDocument(lists).toJson(QJsonDocument::Indented);
}

QStringList comparisonHeaders()
{
    QStringList headers{QStringLiteral("变化"), QStringLiteral("关键词")};
    for (const QString &figure :
         {QStringLiteral("宝贝数量"), QStringLiteral("最高成交笔数"), QStringLiteral("成交价格")})
        headers << figure + QStringLiteral("(旧)") << figure + QStringLiteral("(新)")
                << figure + QStringLiteral("差") << figure + QStringLiteral("%");
    return headers;
}

QStringList comparisonCells(const KeywordChange &change)
{
    QStringList cells{kindLabel(change.kind), text::fromGbk(change.keyword)};
    appendFigures(cells, change);
    return cells;
}

QByteArray comparisonCsv(const QList<KeywordChange> &changes)
{
    const auto line = [](const QStringList &cells) {
        QList<QByteArray> fields;
        for (const QString &cell : cells)
            fields.append(text::toGbk(cell));
        return csvexport::csvLine(fields);
    };
    QByteArray csv = line(comparisonHeaders());
    for (const KeywordChange &change : changes)
        csv += line(comparisonCells(change));
    return csv;
}

} // namespace history
