#include "common/apperror.h"
#include "gbkliteral.h"
#include "recordingsavedialog.h"
#include "results/csvexport.h"
#include "results/exportcommand.h"
#include "results/resultsfiltermodel.h"
#include "results/resultsmodel.h"
#include "results/tableexport.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using testsupport::gbk;

namespace {

QByteArray written(const std::function<void(QIODevice *)> &write)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    write(&buffer);
    return bytes;
}

QList<ListedItem> sampleItems()
{
    // Sales 50, 30, 20 for the first three of five; a title without the keyword; a price without a number.
    return {{gbk("红色连衣裙"), "25.00", "50"},
            {gbk("连衣裙 夏"), "9.90", "30"},
            {gbk("衬衫"), "100.00", "20"},
            {gbk("长款连衣裙"), gbk("面议"), "0"},
            {"x", "40", "100"}};
}

// Two rows: a seed with five listed items and a formula-like description,
// and a child without items.
void fill(ResultsModel &model)
{
    model.addRow({"1", gbk("连衣裙"), "1999", "50", "25.00", "=HYPERLINK(\"x\")"},
                 {sampleItems(), 0, QByteArray()});
    model.addRow({"2", gbk("连衣裙 夏"), "9", "0", "-5", gbk("夏季, \"新\"")}, {{}, 1, gbk("连衣裙")});
}

// The cells of the first sheet of an XLSX file, read with unzip and an XML
// reader: row by row, each cell as its type ("n", "s", "inlineStr", "str")
// and its text; shared strings resolved.
struct Sheet
{
    QList<QList<QPair<QString, QString>>> rows;
    bool hasFormula = false;
    bool frozenHeader = false;
    int boldStyles = 0;
};

QByteArray unzipped(const QString &file, const QString &member)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, member});
    unzip.waitForFinished(30'000);
    return unzip.readAllStandardOutput();
}

Sheet readSheet(const QString &file)
{
    QStringList shared;
    QXmlStreamReader strings(unzipped(file, QStringLiteral("xl/sharedStrings.xml")));
    while (strings.readNextStartElement() || !strings.atEnd()) {
        if (strings.isStartElement() && strings.name() == QLatin1String("t"))
            shared.append(strings.readElementText());
        else if (!strings.isStartElement())
            strings.readNext();
    }
    Sheet sheet;
    QXmlStreamReader xml(unzipped(file, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString type;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("row")) {
            sheet.rows.append(QList<QPair<QString, QString>>());
        } else if (name == QLatin1String("c")) {
            type = xml.attributes().value(QLatin1String("t")).toString();
            if (type.isEmpty())
                type = QStringLiteral("n");
        } else if (name == QLatin1String("f")) {
            sheet.hasFormula = true;
        } else if (name == QLatin1String("v") || name == QLatin1String("t")) {
            const QString value = xml.readElementText();
            sheet.rows.last().append(QPair<QString, QString>(
                type, type == QLatin1String("s") ? shared.value(value.toInt()) : value));
        } else if (name == QLatin1String("pane")) {
            sheet.frozenHeader = xml.attributes().value(QLatin1String("state")) == QLatin1String("frozen") &&
                                 xml.attributes().value(QLatin1String("ySplit")) == QLatin1String("1");
        }
    }
    sheet.boldStyles = int(unzipped(file, QStringLiteral("xl/styles.xml")).count("<b/>"));
    return sheet;
}

} // namespace

class TestTableExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void derivedValues()
    {
        ResultsModel model;
        fill(model);
        const auto cells = [&model](int position) {
            QByteArrayList list;
            for (int column = ResultsModel::Opportunity; column < ResultsModel::ColumnCount; ++column)
                list.append(model.cell(position, column).toByteArray());
            return list;
        };
        // 50 / 2000; 50 * 25; (50+30+20) / 200; median of 9.90 25 40 100; 3 titles hold the keyword.
        QCOMPARE(cells(0), (QByteArrayList{"0.025", "1250.00", "0.5", "32.50", "3", "0", ""}));
        // No items: no share, no median. The price "-5" reads as 5, as the sort reads it.
        QCOMPARE(cells(1), (QByteArrayList{"0", "0.00", "", "", "0", "1", gbk("连衣裙")}));
        QCOMPARE(model.listedItems(0), sampleItems());
        QVERIFY(model.listedItems(1).isEmpty());

        // Editing the number cell keeps the rest of the row, items included.
        model.setData(model.index(0, ResultsModel::Number), QStringLiteral("7"));
        QCOMPARE(model.cell(0, ResultsModel::Number), QByteArrayView("7"));
        QCOMPARE(cells(0).first(), QByteArray("0.025"));
        QCOMPARE(model.listedItems(0), sampleItems());

        // A front end that does not keep the items still gets the values.
        ResultsModel lean;
        lean.setKeepsListedItems(false);
        fill(lean);
        QVERIFY(lean.listedItems(0).isEmpty());
        QCOMPARE(lean.cell(0, ResultsModel::MedianPrice), QByteArrayView("32.50"));
    }

    // Rows small and large keep every cell, and siblings added one after
    // another keep their own parent also when an earlier sibling is edited.
    void storedRows_data()
    {
        QTest::addColumn<int>("descriptionBytes");
        QTest::newRow("short") << 10;
        QTest::newRow("over 255 bytes") << 300;
        QTest::newRow("over 64 KiB") << 70'000;
    }

    void storedRows()
    {
        QFETCH(int, descriptionBytes);
        const QByteArray description(descriptionBytes, 'd');
        ResultsModel model;
        const QList<QByteArray> parents{"", "seed", "seed", "seed", "other", "seed"};
        for (int i = 0; i < parents.size(); ++i) {
            const QByteArray number = QByteArray::number(i + 1);
            model.addRow({number, "kw" + number, "99", "50", "2.5", description + number},
                         {sampleItems(), int(i), parents[i]});
        }
        model.setData(model.index(1, ResultsModel::Number), QStringLiteral("x"));
        for (int i = 0; i < parents.size(); ++i) {
            const QByteArray number = QByteArray::number(i + 1);
            QCOMPARE(model.row(i), (ResultRow{i == 1 ? "x" : number, "kw" + number, "99", "50", "2.5",
                                              description + number}));
            QCOMPARE(model.cell(i, ResultsModel::Parent), QByteArrayView(parents[i]));
            QCOMPARE(model.cell(i, ResultsModel::Depth), QByteArrayView(QByteArray::number(i)));
            QCOMPARE(model.cell(i, ResultsModel::Opportunity), QByteArrayView("0.5"));
            QCOMPARE(model.cell(i, ResultsModel::Revenue), QByteArrayView("125.00"));
            QCOMPARE(model.cell(i, ResultsModel::MedianPrice), QByteArrayView("32.50"));
            QCOMPARE(model.listedItems(i), sampleItems());
        }
    }

    void savedCsvUnchanged()
    {
        // The same six cells with and without everything else make the same bytes.
        ResultsModel plain;
        ResultsModel detailed;
        fill(detailed);
        for (int position = 0; position < detailed.rowCount(); ++position)
            plain.addRow(detailed.row(position));
        QCOMPARE(csvexport::resultsCsv(detailed), csvexport::resultsCsv(plain));
        QCOMPARE(csvexport::resultsCsv(detailed),
                 gbk("序号,关键词,宝贝数量,最高成交笔数,成交价格,宝贝描述\r\n") + "1," + gbk("连衣裙") +
                     ",1999,50,25.00,\"=HYPERLINK(\"\"x\"\")\"\r\n2," + gbk("连衣裙 夏") + ",9,0,-5,\"" +
                     gbk("夏季, \"\"新\"\"") + "\"\r\n");
    }

    void formulaSafe_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("expected");
        QTest::newRow("formula") << QStringLiteral("=1+2") << QStringLiteral("'=1+2");
        QTest::newRow("plus") << QStringLiteral("+cmd|' /C calc'!A0")
                              << QStringLiteral("'+cmd|' /C calc'!A0");
        QTest::newRow("minus formula") << QStringLiteral("-2+3") << QStringLiteral("'-2+3");
        QTest::newRow("at") << QStringLiteral("@SUM(A1)") << QStringLiteral("'@SUM(A1)");
        QTest::newRow("tab") << QStringLiteral("\t=1") << QStringLiteral("'\t=1");
        QTest::newRow("negative number") << QStringLiteral("-5") << QStringLiteral("-5");
        QTest::newRow("decimal") << QStringLiteral("-25.50") << QStringLiteral("-25.50");
        QTest::newRow("plain text") << QStringLiteral("a=b") << QStringLiteral("a=b");
        QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("");
    }
    void formulaSafe()
    {
        QFETCH(QString, cell);
        QFETCH(QString, expected);
        QCOMPARE(tableexport::formulaSafe(cell), expected);
    }

    void utf8Csv()
    {
        ResultsModel model;
        fill(model);
        const QByteArray csv = written(
            [&](QIODevice *out) { tableexport::writeUtf8Csv(out, model, tableexport::allPositions(model)); });
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(csv.sliced(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4); // header, two rows, nothing after the last CR LF
        QCOMPARE(lines[0],
                 QStringLiteral("序号,关键词,宝贝数量,最高成交笔数,成交价格,宝贝描述,机会指数,成交额,"
                                "头部集中度,中位价,标题匹配,层级,来源词"));
        QCOMPARE(lines[1],
                 QStringLiteral("1,连衣裙,1999,50,25.00,\"'=HYPERLINK(\"\"x\"\")\",0.025,1250.00,0.5,"
                                "32.50,3,0,"));
        QCOMPARE(lines[2], QStringLiteral("2,连衣裙 夏,9,0,-5,\"夏季, \"\"新\"\"\",0,0.00,,,0,1,连衣裙"));
        QVERIFY(lines[3].isEmpty());
    }

    void json()
    {
        ResultsModel model;
        fill(model);
        model.sort(ResultsModel::ItemCount, ResultsModel::SortKind::Numeric, Qt::AscendingOrder);
        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(written([&](QIODevice *out) {
                                        tableexport::writeJson(out, model, tableexport::allPositions(model));
                                    }),
                                    &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray rows = document.array();
        QCOMPARE(rows.size(), 2);
        const QStringList keys =
            QStringLiteral(
                "position keyword items sales price title opportunity revenue top3_share median_price "
                "title_matches depth parent top_items")
                .split(QLatin1Char(' '));
        for (const QJsonValue &row : rows) {
            QStringList found = row.toObject().keys();
            found.sort();
            QStringList wanted = keys;
            wanted.sort();
            QCOMPARE(found, wanted);
        }
        // Table order: the child (9 items) first now.
        const QJsonObject child = rows[0].toObject();
        QCOMPARE(child[QLatin1String("position")].toInt(), 1);
        QCOMPARE(child[QLatin1String("keyword")].toString(), QStringLiteral("连衣裙 夏"));
        QCOMPARE(child[QLatin1String("price")].toDouble(), 5.0);
        QVERIFY(child[QLatin1String("top3_share")].isNull());
        QVERIFY(child[QLatin1String("median_price")].isNull());
        QCOMPARE(child[QLatin1String("parent")].toString(), QStringLiteral("连衣裙"));
        QCOMPARE(child[QLatin1String("top_items")].toArray().size(), 0);
        const QJsonObject seed = rows[1].toObject();
        QCOMPARE(seed[QLatin1String("items")].toDouble(), 1999.0);
        QCOMPARE(seed[QLatin1String("opportunity")].toDouble(), 0.025);
        QCOMPARE(seed[QLatin1String("title")].toString(), QStringLiteral("=HYPERLINK(\"x\")"));
        QVERIFY(seed[QLatin1String("parent")].isNull());
        QCOMPARE(seed[QLatin1String("depth")].toInt(), 0);
        const QJsonArray items = seed[QLatin1String("top_items")].toArray();
        QCOMPARE(items.size(), 5);
        QCOMPARE(items[0].toObject().keys(), QStringLiteral("price sales title").split(QLatin1Char(' ')));
        QCOMPARE(items[0].toObject()[QLatin1String("title")].toString(), QStringLiteral("红色连衣裙"));
        QCOMPARE(items[1].toObject()[QLatin1String("price")].toDouble(), 9.9);
        QVERIFY(items[3].toObject()[QLatin1String("price")].isNull());

        // No rows: an empty array.
        ResultsModel empty;
        QCOMPARE(
            QJsonDocument::fromJson(written([&](QIODevice *out) { tableexport::writeJson(out, empty, {}); }))
                .array()
                .size(),
            0);
    }

    void xlsxReadsBack()
    {
        ResultsModel model;
        fill(model);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("table.xlsx"));
        tableexport::save(file, tableexport::Format::Xlsx, model, tableexport::allPositions(model));
        const Sheet sheet = readSheet(file);
        QCOMPARE(sheet.rows.size(), 3);
        QCOMPARE(sheet.rows[0].size(), int(ResultsModel::ColumnCount));
        QCOMPARE(sheet.rows[0][0].second, QStringLiteral("序号"));
        QCOMPARE(sheet.rows[0][12].second, QStringLiteral("来源词"));
        QVERIFY(sheet.frozenHeader);
        QVERIFY(sheet.boldStyles >= 1);
        QVERIFY(!sheet.hasFormula);
        const QList<QPair<QString, QString>> &seed = sheet.rows[1];
        // Numbers are numeric cells, texts strings: the formula-like description stays text.
        QCOMPARE(seed[2].first, QStringLiteral("n"));
        QCOMPARE(seed[2].second.toDouble(), 1999.0);
        QCOMPARE(seed[4].first, QStringLiteral("n"));
        QCOMPARE(seed[4].second.toDouble(), 25.0);
        QVERIFY(seed[5].first != QLatin1String("n"));
        QCOMPARE(seed[5].second, QStringLiteral("=HYPERLINK(\"x\")"));
        QCOMPARE(seed[6].first, QStringLiteral("n"));
        QCOMPARE(seed[6].second.toDouble(), 0.025);
        // "-5" is no plain number as the table reads it (the sign is not read): kept as text.
        QCOMPARE(sheet.rows[2][4].second, QStringLiteral("-5"));
        QVERIFY(sheet.rows[2][4].first != QLatin1String("n"));
    }

    void exportCommandAndVisibleRows()
    {
        ResultsModel model;
        fill(model);
        ResultsFilterModel shown(&model);
        ViewFilter filter;
        filter.minOpportunity = 0.01;
        shown.setViewFilter(filter);
        QCOMPARE(shown.shownPositions(), QList<int>{0});

        QTemporaryDir dir;
        testsupport::RecordingSaveDialog dialog;
        dialog.answers = {dir.filePath(QStringLiteral("out")), std::nullopt};
        ExportCommand command(dialog);
        QVERIFY(command.run(tableexport::Format::Json, model, shown.shownPositions()));
        QFile file(dir.filePath(QStringLiteral("out.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(file.readAll()).array().size(), 1);
        // A cancel writes nothing; the dialog offers the last name.
        QVERIFY(!command.run(tableexport::Format::Xlsx, model, {}));
        QCOMPARE(dialog.offered.last(), dir.filePath(QStringLiteral("out")));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.xlsx"))));
        // A folder that cannot take the file reports it.
        QVERIFY_THROWS_EXCEPTION(AppError, tableexport::save(dir.filePath(QStringLiteral("no/such/t.xlsx")),
                                                             tableexport::Format::Xlsx, model, {}));
    }

    void viewFilter_data()
    {
        QTest::addColumn<ViewFilter>("filter");
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<bool>("lateRowShown"); // items 5000, sales 0, price 1, "bag 2"
        const auto make = [](auto set) {
            ViewFilter filter;
            set(filter);
            return filter;
        };
        QTest::newRow("none") << ViewFilter{} << QList<int>{0, 1, 2} << true;
        QTest::newRow("item range") << make([](ViewFilter &f) {
            f.minItems = 10;
            f.maxItems = 2000;
        }) << QList<int>{0} << false;
        QTest::newRow("min sales") << make([](ViewFilter &f) { f.minSales = 1; }) << QList<int>{0, 2}
                                   << false;
        QTest::newRow("price range, no number fails") << make([](ViewFilter &f) {
            f.minPrice = 1;
            f.maxPrice = 30;
        }) << QList<int>{0, 1} << true;
        QTest::newRow("min opportunity")
            << make([](ViewFilter &f) { f.minOpportunity = 1; }) << QList<int>{2} << false;
        QTest::newRow("text in keyword, case folded")
            << make([](ViewFilter &f) { f.text = "BAG"; }) << QList<int>{2} << true;
        QTest::newRow("text in description")
            << make([](ViewFilter &f) { f.text = "hyperlink"; }) << QList<int>{0} << false;
    }
    void viewFilter()
    {
        QFETCH(ViewFilter, filter);
        QFETCH(QList<int>, shown);
        QFETCH(bool, lateRowShown);
        ResultsModel model;
        fill(model);
        model.addRow({"3", "Bag", "5", "7", gbk("面议"), "d"});
        ResultsFilterModel filtered(&model);
        filtered.setViewFilter(filter);
        QCOMPARE(filtered.shownPositions(), shown);
        // Rows arriving later are filtered too, and a sort keeps the filter.
        model.addRow({"4", "bag 2", "5000", "0", "1", "e"});
        QCOMPARE(filtered.rowCount(), int(shown.size()) + (lateRowShown ? 1 : 0));
        model.sort(ResultsModel::Keyword, Qt::DescendingOrder);
        QCOMPARE(filtered.rowCount(), int(shown.size()) + (lateRowShown ? 1 : 0));
    }
};

QTEST_GUILESS_MAIN(TestTableExport)
#include "tst_tableexport.moc"
