#pragma once

#include <QFont>

// The font of the windows that show a results table: SimSun where it is
// installed, otherwise the first font with Chinese characters; 12 pixels high
// either way, the size the table's columns and the filter boxes are made for.
QFont tableWindowFont();
