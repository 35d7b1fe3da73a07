#include "results/derivedvalues.h"

#include "results/resultsmodel.h"
#include "text/bytetext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace derivedvalues {

namespace {

// Fixed notation with the given decimals, written by to_chars: Qt's double
// formatting costs several times more, and a long batch formats four values a row.
QByteArray fixed(double value, int decimals)
{
    char digits[64];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? QByteArray(digits, result.ptr - digits)
                                    : QByteArray::number(value, 'f', decimals);
}

// Fixed notation (the sort reads the first decimal number, so never an
// exponent) with about `significant` significant digits and no trailing zeros.
QByteArray shortNumber(double value, int significant)
{
    const int magnitude = value > 0 ? int(std::floor(std::log10(value))) : 0;
    QByteArray text = fixed(value, std::clamp(significant - 1 - magnitude, 0, 12));
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    return text;
}

QByteArray money(double value)
{
    return fixed(value, 2);
}

} // namespace

QByteArray opportunity(QByteArrayView itemCount, QByteArrayView sales)
{
    const std::optional<double> items = ResultsModel::numberIn(itemCount);
    const std::optional<double> topSales = ResultsModel::numberIn(sales);
    return items && topSales ? shortNumber(*topSales / (*items + 1), 4) : QByteArray();
}

QByteArray revenue(QByteArrayView sales, QByteArrayView price)
{
    const std::optional<double> topSales = ResultsModel::numberIn(sales);
    const std::optional<double> itemPrice = ResultsModel::numberIn(price);
    return topSales && itemPrice ? money(*topSales * *itemPrice) : QByteArray();
}

ListedValues listedValues(const ResultRow &row, const RowDetails &details)
{
    const auto number = [](QByteArrayView cell) { return ResultsModel::numberIn(cell); };
    ListedValues values;
    double allSales = 0;
    double topThreeSales = 0;
    std::vector<double> prices;
    int matches = 0;
    for (qsizetype i = 0; i < details.items.size(); ++i) {
        const ListedItem &item = details.items[i];
        const double itemSales = number(item.sales).value_or(0);
        allSales += itemSales;
        if (i < 3)
            topThreeSales += itemSales;
        if (const std::optional<double> itemPrice = number(item.price))
            prices.push_back(*itemPrice);
        if (text::position(row[ResultsModel::Keyword], item.title) > 0)
            ++matches;
    }
    if (allSales > 0)
        values.topThreeShare = shortNumber(topThreeSales / allSales, 4);
    if (!prices.empty()) {
        const auto middle = prices.begin() + prices.size() / 2;
        std::nth_element(prices.begin(), middle, prices.end());
        double median = *middle;
        if (prices.size() % 2 == 0)
            median = (median + *std::max_element(prices.begin(), middle)) / 2;
        values.medianPrice = money(median);
    }
    values.titleMatches = QByteArray::number(matches);
    return values;
}

} // namespace derivedvalues
