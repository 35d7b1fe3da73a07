#include "query/keywordqueue.h"

#include <QTest>

class TestKeywordQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines()
    {
        KeywordQueue queue;
        const QByteArray longLine = QByteArray(5000, 'k');
        queue.append("seed");
        queue.append(longLine);
        QCOMPARE(queue.count(), 2);
        QCOMPARE(queue.line(0), QByteArray("seed"));
        QCOMPARE(queue.line(1), longLine.first(4096));
        QCOMPARE(queue.line(2), QByteArray());
        QCOMPARE(queue.line(-1), QByteArray());
        // holds compares whole lines, not what line() gives back.
        QVERIFY(queue.holds(QByteArray(5000, 'K')));
        QVERIFY(!queue.holds(longLine.first(4096)));

        queue.clear();
        QCOMPARE(queue.count(), 0);
        QCOMPARE(queue.line(0), QByteArray());
        QVERIFY(!queue.holds("seed"));
    }
};

QTEST_GUILESS_MAIN(TestKeywordQueue)
#include "tst_keywordqueue.moc"
