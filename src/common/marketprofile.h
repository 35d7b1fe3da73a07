#pragma once

#include <QByteArray>
#include <QString>

// How one marketplace is asked and read: the search address and the text
// markers the page parser cuts its values by. The built-in profile is the one
// the program has always used; a user may load another from an INI file when
// the marketplace changes its pages. Markers are GBK bytes, like the pages.
struct MarketProfile
{
    // One value on the page: the text from `offset` bytes past the 1-based
    // position of `open` up to the first `close` after that.
    struct ValueRule
    {
        QByteArray open;
        int offset = 0;
        QByteArray close;
        bool operator==(const ValueRule &) const = default;
    };

    // "{host}" and "{keyword}" stand for the marketplace host and the
    // keyword's GBK bytes, inserted unescaped.
    QByteArray searchUrl;

    // The related searches: the block starts `relatedOffset` bytes past the
    // position of relatedMarker and ends before relatedEnd; entries are cut at
    // entryOpen and entryClose.
    QByteArray relatedMarker;
    int relatedOffset = 0;
    QByteArray relatedEnd;
    QByteArray entryOpen;
    QByteArray entryClose;

    ValueRule items;
    ValueRule sales;
    ValueRule price;
    ValueRule title;

    // A page whose price or title holds this is not a row.
    QByteArray reject;

    static const MarketProfile &builtIn();

    // Reads an INI file (UTF-8). Keys left out keep the built-in values.
    // Throws AppError naming the file, the line and the key of what is wrong.
    static MarketProfile fromFile(const QString &fileName);
    static MarketProfile fromIni(QByteArrayView ini, const QString &fileName);

    // The profile a front end uses: `fileName` when not empty, else the file
    // QUILLMARSH_MARKET_PROFILE names, else the built-in one.
    static MarketProfile chosen(const QString &fileName);

    // The search page of a keyword on the marketplace host (hosts::marketHost()).
    QByteArray searchUrlFor(const QByteArray &keyword) const;

    bool operator==(const MarketProfile &) const = default;
};
