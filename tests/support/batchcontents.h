#pragma once

#include <QByteArrayList>
#include <QList>

class KeywordQueue;
class ResultsModel;

namespace testsupport {

// A table's rows in display order, the six cells of each.
QList<QByteArrayList> tableRows(const ResultsModel &results);
// A queue's lines in order.
QByteArrayList queueLines(const KeywordQueue &queue);

} // namespace testsupport
