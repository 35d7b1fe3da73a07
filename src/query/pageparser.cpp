#include "query/pageparser.h"

#include "query/keywordqueue.h"
#include "text/bytetext.h"
#include "text/gbk.h"

#include <QSet>
#include <QString>
#include <algorithm>
#include <array>

namespace pageparser {

namespace {

// Pages are decoded under loose UTF-8 rules: a byte of 0x80 or more opens a
// sequence of two bytes, or three when its bit 0x20 is set; the following
// bytes must be 0x80-0xBF; only the low 16 bits of the character count.
// Ordinary GBK text breaks these rules early, which ends the scan.
std::optional<QString> decodedLooseUtf8(QByteArrayView bytes)
{
    QString decoded(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(decoded.data());
    const auto *in = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = in + bytes.size();
    while (in < end) {
        uint character = *in++;
        if (character >= 0x80) {
            const int following = (character & 0x20) ? 2 : 1;
            if (end - in < following)
                return std::nullopt;
            character &= 0x3F;
            for (int i = 0; i < following; ++i) {
                const uchar byte = *in++;
                if ((byte & 0xC0) != 0x80)
                    return std::nullopt;
                character = (character << 6) | (byte & 0x3F);
            }
        }
        *out++ = char16_t(character);
    }
    decoded.truncate(out - reinterpret_cast<const char16_t *>(decoded.constData()));
    return decoded;
}

// A page that decodes as UTF-8 is converted to GBK; any other page is GBK already.
// Returns the converted text, or an empty array when the page is used as it is.
QByteArray convertedToGbk(QByteArrayView page)
{
    const std::optional<QString> decoded = decodedLooseUtf8(page);
    return decoded ? text::toGbk(*decoded) : QByteArray();
}

// The related-search entries: the block from the heading's offset up to the
// first block end, with each entry opening made a line end and cut at every
// entry close. Without a heading the block starts at the offset into the page.
QList<QByteArray> relatedPieces(QByteArrayView page, const MarketProfile &profile)
{
    const QByteArrayView afterHeading =
        text::fromByte(page, text::position(profile.relatedMarker, page) + profile.relatedOffset);
    const QByteArrayView block =
        text::firstBytes(afterHeading, text::position(profile.relatedEnd, afterHeading));
    if (block.isEmpty())
        return {};
    QByteArray lines;
    lines.reserve(block.size() + 64);
    for (const QByteArray &part : text::split(block, profile.entryOpen))
        lines.append(part).append("\r\n");
    return text::split(lines, profile.entryClose);
}

// The text of a piece between its first ">" and the "<" after it, without
// four-space runs and line ends.
QByteArray candidateOf(QByteArrayView piece)
{
    const QByteArrayView afterTag = text::fromByte(piece, text::position(QByteArrayLiteral(">"), piece) + 1);
    const QByteArrayView inner =
        text::firstBytes(afterTag, text::position(QByteArrayLiteral("<"), afterTag) - 1);
    return text::deleteEvery(text::deleteEvery(inner, QByteArrayLiteral("    ")), QByteArrayLiteral("\r\n"));
}

void harvestKeywords(QByteArrayView page, const KeywordQueue &queue, const KeywordFilter &filter,
                     const MarketProfile &profile, Harvest &harvest)
{
    QList<QByteArray> &keywords = harvest.keywords;
    QSet<QByteArray> harvested; // folded, so that one page cannot queue a keyword twice
    for (const QByteArray &piece : relatedPieces(page, profile)) {
        const QByteArray candidate = candidateOf(piece);
        if (candidate.isEmpty())
            continue;
        const QByteArray folded = text::foldCase(candidate);
        if (harvested.contains(folded) || queue.holds(candidate))
            continue;
        if (text::position(QByteArrayLiteral("search"), candidate) > 0)
            continue;
        if (filter.mustContain && text::position(filter.boxText, candidate) == 0)
            continue;
        // Counted only here, so the count is the fetches the words saved.
        if (filter.excludes(folded)) {
            harvest.excluded.append(candidate);
            continue;
        }
        harvested.insert(folded);
        keywords.append(candidate);
    }
}

// The start of rest up to the closing marker; empty without one.
QByteArrayView cutAt(QByteArrayView rest, QByteArrayView closing)
{
    return text::firstBytes(rest, text::position(closing, rest) - 1);
}

// The text from the rule's offset past its opening marker up to the closing
// marker after that; empty without a closing marker. A missing opening marker
// reads from the offset into the page.
QByteArrayView valueOf(QByteArrayView page, const MarketProfile::ValueRule &rule)
{
    return cutAt(text::fromByte(page, text::position(rule.open, page) + rule.offset), rule.close);
}

// A whole signed 32-bit decimal number, leading spaces allowed, in its plain
// form; anything else (a thousands separator, a trailing byte, an
// out-of-range number, nothing) reads as 0.
QByteArray normalisedNumber(QByteArrayView text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    const QByteArrayView number = text.sliced(start);
    const QByteArrayView digits =
        number.startsWith('+') || number.startsWith('-') ? number.sliced(1) : number;
    const bool onlyDigits = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(),
                                                             [](char c) { return c >= '0' && c <= '9'; });
    bool inRange = false;
    const int value = onlyDigits ? number.toInt(&inRange) : 0;
    return QByteArray::number(inRange ? value : 0);
}

std::optional<ResultRow> rowOf(QByteArrayView page, const QByteArray &keyword, const MarketProfile &profile)
{
    const QByteArray itemCount = normalisedNumber(valueOf(page, profile.items));
    const QByteArrayView price = valueOf(page, profile.price);
    const QByteArrayView description = valueOf(page, profile.title);
    // With a marker missing the cut starts near the top of the page and takes
    // in its <head>: that is what refuses such pages.
    const auto rejected = [&profile](QByteArrayView value) {
        return text::position(profile.reject, value) > 0;
    };
    if (itemCount == "0" || price.isEmpty() || rejected(description) || rejected(price))
        return std::nullopt;
    return ResultRow{QByteArray(),        keyword,
                     itemCount,           normalisedNumber(valueOf(page, profile.sales)),
                     price.toByteArray(), description.toByteArray()};
}

bool showsAnyMarker(QByteArrayView page, const MarketProfile &profile)
{
    const QByteArrayView markers[] = {profile.relatedMarker, profile.items.open, profile.sales.open,
                                      profile.price.open, profile.title.open};
    return std::any_of(std::begin(markers), std::end(markers),
                       [page](QByteArrayView marker) { return text::position(marker, page) > 0; });
}

} // namespace

QList<ListedItem> listedItems(QByteArrayView page, const MarketProfile &profile)
{
    struct Cut
    {
        const MarketProfile::ValueRule &rule;
        qsizetype from = 0; // where the search for the next opening marker starts
    };
    std::array<Cut, 3> cuts{{{profile.title}, {profile.price}, {profile.sales}}};
    QList<ListedItem> items;
    while (items.size() < MaxListedItems) {
        std::array<QByteArrayView, 3> values;
        for (size_t i = 0; i < cuts.size(); ++i) {
            const MarketProfile::ValueRule &rule = cuts[i].rule;
            const qsizetype at = rule.open.isEmpty() ? -1 : page.indexOf(rule.open, cuts[i].from);
            if (at < 0)
                return items;
            cuts[i].from = at + rule.open.size();
            values[i] = cutAt(text::fromByte(page, at + 1 + rule.offset), rule.close);
        }
        items.append({values[0].toByteArray(), values[1].toByteArray(), normalisedNumber(values[2])});
    }
    return items;
}

Harvest parse(QByteArrayView page, const QByteArray &keyword, const KeywordQueue &queue,
              const KeywordFilter &filter, const MarketProfile &profile)
{
    const QByteArray converted = convertedToGbk(page);
    const QByteArrayView gbkPage = converted.isEmpty() ? page : QByteArrayView(converted);
    Harvest harvest;
    harvestKeywords(gbkPage, queue, filter, profile, harvest);
    harvest.row = rowOf(gbkPage, keyword, profile);
    if (harvest.row)
        harvest.items = listedItems(gbkPage, profile);
    // A page with a row was read; only the others are searched again.
    harvest.recognised = harvest.row || showsAnyMarker(gbkPage, profile);
    return harvest;
}

} // namespace pageparser
