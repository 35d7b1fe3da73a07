#pragma once

#include "results/resultsmodel.h"

#include <QList>

// Rows as batches make them: a Chinese keyword and description, whole counts
// and sales, a price with two decimals; item count and sales independent.
// The same rows every run.
QList<ResultRow> makeRows(int count);
