#pragma once

#include <QByteArray>

// The keyword box text and the must-contain tick, read when a page is parsed
// (not when the batch starts): the user may change them during a batch.
struct KeywordFilter
{
    QByteArray boxText;
    bool mustContain = true;
};
