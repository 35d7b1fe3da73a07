#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Renders marketplace search result pages: the layout real pages have around
// the markers the program reads (item count, the related-search block, and
// the first item's sales, price and title). Used by the local simulator, the
// tests and the benchmarks, so all of them read the same kind of page.
namespace sim {

struct ListedItem
{
    QString title;
    QString price; // as shown, e.g. "25.00"
    int sales = 0;
};

struct ResultPage
{
    QString keyword;
    QStringList related;     // the "你是不是想找" entries, in order
    QString itemCount;       // the text of the item count, e.g. "1234"
    QList<ListedItem> items; // best seller first
};

enum class PageEncoding
{
    Gbk,
    Utf8
};

// The markup around the values. Classic is the layout the built-in market
// profile reads; Modern puts the same values in other tags and words, as a
// marketplace does after a redesign (tools/sim/modern-profile.ini reads it).
enum class PageStyle
{
    Classic,
    Modern
};

// paddedTo: the page grows with the ordinary weight of a real page (styles,
// scripts, per-item markup) until it is at least that many bytes.
QByteArray renderResultPage(const ResultPage &page, PageEncoding encoding, int paddedTo = 0,
                            PageStyle style = PageStyle::Classic);

} // namespace sim
