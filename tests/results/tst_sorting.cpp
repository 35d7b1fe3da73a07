#include "gbkliteral.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>

using testsupport::gbk;

namespace {

// Row i (0-based) is numbered i + 1 and its keyword names the number, so a
// check can tell whether whole rows moved together.
ResultRow fixtureRow(int number, int column, const QByteArray &cell)
{
    const QByteArray n = QByteArray::number(number);
    ResultRow row{n, "kw" + n, "1", "1", "1.00", "item " + n};
    row[column] = cell;
    return row;
}

void fill(ResultsModel &model, int column, const QByteArrayList &cells)
{
    for (int i = 0; i < cells.size(); ++i)
        model.addRow(fixtureRow(i + 1, column, cells[i]));
}

// The row numbers top to bottom, after checking each row kept its own cells.
QList<int> numbersOf(const ResultsModel &model)
{
    QList<int> numbers;
    for (int position = 0; position < model.rowCount(); ++position) {
        const QByteArray number = model.cell(position, ResultsModel::Number).toByteArray();
        if (model.cell(position, ResultsModel::Keyword).toByteArray() != "kw" + number)
            return {-1};
        numbers.append(number.toInt());
    }
    return numbers;
}

using Command = void (ResultsModel::*)();

} // namespace

class TestSorting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("column");
        QTest::addColumn<QByteArrayList>("cells");
        QTest::addColumn<QList<int>>("expected");

        // Equal keys keep their order in both directions.
        QTest::newRow("item count: fewest first, ties stable")
            << 0 << int(ResultsModel::ItemCount) << QByteArrayList{"30", "5", "120", "5"}
            << QList<int>{2, 4, 1, 3};
        QTest::newRow("sales: most first, ties stable")
            << 1 << int(ResultsModel::Sales) << QByteArrayList{"10", "900", "45", "900"}
            << QList<int>{2, 4, 3, 1};
        QTest::newRow("price: decimals honoured, 25 equals 25.00")
            << 2 << int(ResultsModel::Price) << QByteArrayList{"25.00", "9.90", "100.00", "25"}
            << QList<int>{2, 1, 4, 3};
        QTest::newRow("price: currency and unit around the number")
            << 2 << int(ResultsModel::Price) << QByteArrayList{gbk("¥12.5元"), gbk("￥3.20"), "0.99"}
            << QList<int>{3, 2, 1};
        QTest::newRow("price without digits last, ascending")
            << 2 << int(ResultsModel::Price) << QByteArrayList{gbk("面议"), "12.5", "3", "-"}
            << QList<int>{3, 2, 1, 4};
        QTest::newRow("sales without digits last, descending")
            << 1 << int(ResultsModel::Sales) << QByteArrayList{"", "12", gbk("暂无"), "300"}
            << QList<int>{4, 2, 1, 3};
        QTest::newRow("too large for a double still before no number")
            << 0 << int(ResultsModel::ItemCount) << QByteArrayList{"n/a", QByteArray(400, '9'), "7"}
            << QList<int>{3, 2, 1};
        QTest::newRow("thousands separators")
            << 0 << int(ResultsModel::ItemCount) << QByteArrayList{"1,234", "999", "12,000,000", "1,235"}
            << QList<int>{2, 1, 4, 3};
        QTest::newRow("signs are not read")
            << 0 << int(ResultsModel::ItemCount) << QByteArrayList{"-5", "3", "+4"} << QList<int>{2, 3, 1};
    }
    void commands()
    {
        static const Command commands[] = {&ResultsModel::sortByItemCount, &ResultsModel::sortBySales,
                                           &ResultsModel::sortByPrice};
        QFETCH(int, index);
        const Command command = commands[index];
        QFETCH(int, column);
        QFETCH(QByteArrayList, cells);
        QFETCH(QList<int>, expected);
        ResultsModel model;
        fill(model, column, cells);
        (model.*command)();
        QCOMPARE(numbersOf(model), expected);
        // Pressing the button again sorts the same way, no toggling.
        (model.*command)();
        QCOMPARE(numbersOf(model), expected);
    }

    void sort_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QByteArrayList>("cells");
        QTest::addColumn<QList<int>>("expected");

        const QByteArrayList fruit{"banana", "Apple", "cherry", "apple"};
        QTest::newRow("text ascending, case ignored")
            << int(ResultsModel::Description) << false << true << fruit << QList<int>{2, 4, 1, 3};
        QTest::newRow("text descending")
            << int(ResultsModel::Description) << false << false << fruit << QList<int>{3, 1, 2, 4};
        const QByteArrayList prices{"25.00", "9.90", "n/a", "1,000", "1000", ""};
        QTest::newRow("numbers ascending, none last")
            << int(ResultsModel::Price) << true << true << prices << QList<int>{2, 1, 4, 5, 3, 6};
        QTest::newRow("numbers descending, none still last")
            << int(ResultsModel::Price) << true << false << prices << QList<int>{4, 5, 1, 2, 3, 6};
        QTest::newRow("column out of range leaves the order")
            << int(ResultsModel::ColumnCount) << true << true << QByteArrayList{"3", "1", "2"}
            << QList<int>{1, 2, 3};
    }
    void sort()
    {
        QFETCH(int, column);
        QFETCH(bool, numeric);
        QFETCH(bool, ascending);
        QFETCH(QByteArrayList, cells);
        QFETCH(QList<int>, expected);
        ResultsModel model;
        fill(model, qBound(0, column, ResultsModel::PageColumnCount - 1), cells);
        model.sort(column, numeric ? ResultsModel::SortKind::Numeric : ResultsModel::SortKind::Text,
                   ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        QCOMPARE(numbersOf(model), expected);
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("number");
        QTest::addColumn<bool>("hasNumber");
        QTest::newRow("price") << QByteArray("25.00") << 25.0 << true;
        QTest::newRow("grouped") << QByteArray("1,234") << 1234.0 << true;
        QTest::newRow("sign") << QByteArray("-5") << 5.0 << true;
        QTest::newRow("first number only") << QByteArray("12.5-30.00") << 12.5 << true;
        QTest::newRow("one point") << QByteArray("1.2.3") << 1.2 << true;
        QTest::newRow("trailing comma and point") << QByteArray("12,.") << 12.0 << true;
        QTest::newRow("Chinese around") << gbk("约3,500.5件") << 3500.5 << true;
        QTest::newRow("too large") << QByteArray(400, '9') << std::numeric_limits<double>::max() << true;
        QTest::newRow("no digit") << gbk("面议") << 0.0 << false;
    }
    void numbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, number);
        QFETCH(bool, hasNumber);
        const std::optional<double> read = ResultsModel::numberIn(text);
        QCOMPARE(read.has_value(), hasNumber);
        if (hasNumber)
            QCOMPARE(*read, number);
    }

    void rowsAddedAfterSortGoToTheBottom()
    {
        ResultsModel model;
        fill(model, ResultsModel::ItemCount, {"30", "10", "20"});
        model.sortByItemCount();
        model.addRow(fixtureRow(4, ResultsModel::ItemCount, "1"));
        QCOMPARE(numbersOf(model), (QList<int>{2, 3, 1, 4}));
    }

    void tiesKeepTheShownOrder()
    {
        ResultsModel model;
        for (const ResultRow &row :
             {ResultRow{"1", "kw1", "30", "5", "1", "a"}, ResultRow{"2", "kw2", "10", "5", "1", "b"},
              ResultRow{"3", "kw3", "20", "9", "1", "c"}})
            model.addRow(row);
        model.sortByItemCount();
        QCOMPARE(numbersOf(model), (QList<int>{2, 3, 1}));
        // Equal sales keep the order shown now, not the order rows came in.
        model.sortBySales();
        QCOMPARE(numbersOf(model), (QList<int>{3, 2, 1}));
        // Editing the number cell at a position changes that row only.
        QVERIFY(model.setData(model.index(1, ResultsModel::Number), QStringLiteral("x")));
        QCOMPARE(model.cell(1, ResultsModel::Number).toByteArray(), QByteArray("x"));
        QCOMPARE(model.cell(1, ResultsModel::Keyword).toByteArray(), QByteArray("kw2"));
    }

    void selectionFollowsItsRow()
    {
        ResultsModel model;
        fill(model, ResultsModel::Sales, {"1", "3", "2"});
        const QPersistentModelIndex selected = model.index(0, ResultsModel::Keyword);
        QSignalSpy about(&model, &ResultsModel::layoutAboutToBeChanged);
        QSignalSpy changed(&model, &ResultsModel::layoutChanged);
        model.sortBySales();
        QCOMPARE(numbersOf(model), (QList<int>{2, 3, 1}));
        QCOMPARE(about.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(selected.row(), 2);
        QCOMPARE(selected.data().toString(), QStringLiteral("kw1"));
    }

    void tinyTablesAreLeftAlone()
    {
        ResultsModel model;
        QSignalSpy changed(&model, &ResultsModel::layoutChanged);
        model.sortByPrice();
        model.addRow(fixtureRow(1, ResultsModel::Price, "2"));
        model.sortByPrice();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(numbersOf(model), QList<int>{1});
    }
};

QTEST_GUILESS_MAIN(TestSorting)
#include "tst_sorting.moc"
