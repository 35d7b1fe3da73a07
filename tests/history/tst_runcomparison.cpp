#include "history/runcomparison.h"
#include "text/gbk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

history::StoredRun runOf(const QList<QStringList> &rows)
{
    history::StoredRun run;
    int number = 0;
    for (const QStringList &row : rows) {
        QList<QByteArray> cells{QByteArray::number(++number)};
        for (const QString &cell : row)
            cells.append(text::toGbk(cell));
        run.rows.append(cells);
    }
    return run;
}

} // namespace

// Two runs compared keyword by keyword, as the diff command and the history
// window show it.
class TestRunComparison : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void comparison_data()
    {
        QTest::addColumn<QList<QStringList>>("older");
        QTest::addColumn<QList<QStringList>>("newer");
        QTest::addColumn<QStringList>("expected"); // lines of the text form

        const QStringList dress{QStringLiteral("连衣裙"), QStringLiteral("100"), QStringLiteral("50"),
                                QStringLiteral("25.00"), QStringLiteral("a")};
        QTest::newRow("same figures, other description")
            << QList<QStringList>{dress}
            << QList<QStringList>{{QStringLiteral("连衣裙"), QStringLiteral("100"), QStringLiteral("50"),
                                   QStringLiteral("25"), QStringLiteral("b")}}
            << QStringList{};
        QTest::newRow("letter case ignored, figures up and down")
            << QList<QStringList>{{QStringLiteral("ABC连衣裙"), QStringLiteral("100"), QStringLiteral("0"),
                                   QStringLiteral("25.00"), QStringLiteral("d")}}
            << QList<QStringList>{{QStringLiteral("abc连衣裙"), QStringLiteral("1,150"), QStringLiteral("7"),
                                   QStringLiteral("19.90"), QStringLiteral("d")}}
            << QStringList{QStringLiteral(
                   "changed\tabc连衣裙\t100\t1150\t+1050\t+1050%\t0\t7\t+7\t\t25\t19.9\t-5.1\t-20.4%")};
        QTest::newRow("new and vanished, in their runs' order")
            << QList<QStringList>{dress,
                                  {QStringLiteral("旧词"), QStringLiteral("3"), QStringLiteral("4"),
                                   QStringLiteral("5.5"), QStringLiteral("x")}}
            << QList<QStringList>{{QStringLiteral("新词"), QStringLiteral("8"), QStringLiteral("9"),
                                   QStringLiteral("无"), QStringLiteral("y")},
                                  dress}
            << QStringList{QStringLiteral("new\t新词\t\t8\t\t\t\t9\t\t\t\t\t\t"),
                           QStringLiteral("vanished\t旧词\t3\t\t\t\t4\t\t\t\t5.5\t\t\t")};
    }
    void comparison()
    {
        QFETCH(QList<QStringList>, older);
        QFETCH(QList<QStringList>, newer);
        QFETCH(QStringList, expected);
        const QList<history::KeywordChange> changes = history::compareRuns(runOf(older), runOf(newer));
        QCOMPARE(
            QString::fromUtf8(history::comparisonText(changes)).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            expected);
        const QByteArray csv = history::comparisonCsv(changes);
        QCOMPARE(csv.count("\r\n"), expected.size() + 1);
    }

    void jsonNamesMissingFiguresNull()
    {
        const history::StoredRun older =
            runOf({{QStringLiteral("连衣裙"), QStringLiteral("0"), QStringLiteral("5"), QStringLiteral("9.9"),
                    QStringLiteral("d")}});
        const history::StoredRun newer =
            runOf({{QStringLiteral("连衣裙"), QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("9.9"),
                    QStringLiteral("d")}});
        const QJsonObject json =
            QJsonDocument::fromJson(history::comparisonJson(history::compareRuns(older, newer), 3, 4))
                .object();
        QCOMPARE(json[QStringLiteral("old_run")].toInt(), 3);
        QCOMPARE(json[QStringLiteral("new_run")].toInt(), 4);
        QVERIFY(json[QStringLiteral("new")].toArray().isEmpty());
        const QJsonObject items =
            json[QStringLiteral("changed")].toArray().first()[QStringLiteral("item_count")].toObject();
        QCOMPARE(items[QStringLiteral("difference")].toDouble(), 4.0);
        QVERIFY(items[QStringLiteral("percent")].isNull());
    }
};

QTEST_GUILESS_MAIN(TestRunComparison)
#include "tst_runcomparison.moc"
