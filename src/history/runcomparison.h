#pragma once

#include "history/historydatabase.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <array>
#include <optional>

// Two runs side by side, keyword by keyword (letter case ignored as the
// queue ignores it): keywords only the newer run has, keywords it lost, and
// for the ones both have, the change in item count, sales and price.
namespace history {

struct ComparedFigure
{
    std::optional<double> before; // none for a new keyword, or a cell without a number
    std::optional<double> after;  // none for a vanished keyword, ...

    std::optional<double> difference() const;
    // The difference as a percentage of before; none when before is 0 or missing.
    std::optional<double> percent() const;
};

struct KeywordChange
{
    enum Kind // in this order in kindName() and kindLabel()
    {
        New,
        Vanished,
        Changed
    };
    Kind kind = Changed;
    QByteArray keyword;
    std::array<ComparedFigure, 3> figures; // item count, sales, price
};

// New keywords in the newer run's order, then vanished ones in the older
// run's order, then changed ones in the newer run's order. Keywords whose
// three figures are the same in both runs are left out.
QList<KeywordChange> compareRuns(const StoredRun &older, const StoredRun &newer);

QString kindName(KeywordChange::Kind kind);  // "new", "vanished", "changed"
QString kindLabel(KeywordChange::Kind kind); // the same for the window and the CSV: "新出现", ...
// A figure as the comparison shows it: up to two decimals, a sign on
// differences and percentages ("+12.5%"), empty when missing.
QString figureText(std::optional<double> value);
QString differenceText(std::optional<double> value);
QString percentText(std::optional<double> value);

// One line per keyword, tab-separated, UTF-8: kind, keyword, then before,
// after, difference and percent of item count, sales and price.
QByteArray comparisonText(const QList<KeywordChange> &changes);
QByteArray comparisonJson(const QList<KeywordChange> &changes, qint64 olderId, qint64 newerId);
// The comparison as a table: kind label, keyword, and the four cells of each figure.
QStringList comparisonHeaders();
QStringList comparisonCells(const KeywordChange &change);
// That table for spreadsheets: GBK, CR LF, with the header line.
QByteArray comparisonCsv(const QList<KeywordChange> &changes);

} // namespace history
