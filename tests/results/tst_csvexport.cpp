#include "common/apperror.h"
#include "gbkliteral.h"
#include "recordingsavedialog.h"
#include "results/csvexport.h"
#include "results/csvsavecommand.h"
#include "results/resultsmodel.h"
#include "text/gbk.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using testsupport::gbk;
namespace {

const QByteArray header = gbk("序号,关键词,宝贝数量,最高成交笔数,成交价格,宝贝描述\r\n");

QByteArray fileContent(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestCsvExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytes_data()
    {
        QTest::addColumn<QList<ResultRow>>("rows");
        QTest::addColumn<bool>("sortBySales");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("empty table") << QList<ResultRow>{} << false << header;
        QTest::newRow("sorted: positions, not row numbers")
            << QList<ResultRow>{{"1", "a", "10", "5", "1.00", "x"},
                                {"2", "b", "20", "50", "2.00", "y"},
                                {"3", "c", "30", "7", "3.00", "z"}}
            << true
            << header + "1,b,20,50,2.00,y\r\n"
                        "2,c,30,7,3.00,z\r\n"
                        "3,a,10,5,1.00,x\r\n";
        QTest::newRow("comma and quote are quoted")
            << QList<ResultRow>{{"7", "kw", "1", "2", "3", "big, \"new\" bag"}} << false
            << header + "1,kw,1,2,3,\"big, \"\"new\"\" bag\"\r\n";
        QTest::newRow("line break is quoted") << QList<ResultRow>{{"7", "kw", "1", "2", "3", "two\r\nlines"}}
                                              << false << header + "1,kw,1,2,3,\"two\r\nlines\"\r\n";
        QTest::newRow("Chinese keyword as GBK bytes")
            << QList<ResultRow>{{"12", gbk("连衣裙"), "1,234", "8", gbk("¥25.00"), gbk("夏季新款")}} << false
            << header + gbk("1,连衣裙,\"1,234\",8,¥25.00,夏季新款\r\n");

        // Written out in pieces: no line may be lost, doubled or cut where a piece ends.
        QList<ResultRow> many;
        QByteArray manyLines = header;
        for (int i = 1; i <= 3000; ++i) {
            const QByteArray n = QByteArray::number(i);
            many.append({n, "kw" + n, n, "5", "1.00", "a \"long\", long description " + n});
            manyLines +=
                n + ",kw" + n + "," + n + ",5,1.00,\"a \"\"long\"\", long description " + n + "\"\r\n";
        }
        QTest::newRow("table larger than one written piece") << many << false << manyLines;
    }
    void bytes()
    {
        QFETCH(QList<ResultRow>, rows);
        QFETCH(bool, sortBySales);
        QFETCH(QByteArray, expected);
        ResultsModel model;
        for (const ResultRow &row : rows)
            model.addRow(row);
        if (sortBySales)
            model.sortBySales();
        QCOMPARE(csvexport::resultsCsv(model), expected);

        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        csvexport::write(&buffer, csvexport::resultsCsv(model));
        QCOMPARE(buffer.data(), expected);

        QBuffer streamed;
        streamed.open(QIODevice::WriteOnly);
        csvexport::writeCsv(&streamed, model);
        QCOMPARE(streamed.data(), expected);
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("results") << QStringLiteral("results.csv");
        QTest::newRow("already .csv") << QStringLiteral("results.csv") << QStringLiteral("results.csv");
        QTest::newRow("upper case") << QStringLiteral("R.CSV") << QStringLiteral("R.CSV");
        QTest::newRow("other suffix") << QStringLiteral("a.csv.txt") << QStringLiteral("a.csv.txt.csv");
        QTest::newRow("folder named .csv")
            << QStringLiteral("out.csv/data") << QStringLiteral("out.csv/data.csv");
    }
    void fileName()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        QCOMPARE(csvexport::csvFileName(chosen), expected);
    }

    void saveTakesRowsBeforeTheDialogAndRemembersTheName()
    {
        QTemporaryDir dir;
        const QString chosen = dir.filePath(QStringLiteral("results"));
        writeFile(chosen + QLatin1String(".csv"), "old content");
        ResultsModel model;
        model.addRow({"1", "a", "1", "2", "3.00", "d"});
        testsupport::RecordingSaveDialog dialog;
        dialog.answers = {chosen, chosen + QLatin1String(".CSV")};
        // A running batch adds a row while the dialog is open.
        dialog.whileOpen = [&] { model.addRow({"9", "late", "1", "1", "1", "e"}); };
        CsvSaveCommand save(dialog);

        QVERIFY(save.run(model));
        QCOMPARE(fileContent(chosen + QLatin1String(".csv")), header + "1,a,1,2,3.00,d\r\n");
        QVERIFY(save.run(model));
        QCOMPARE(dialog.offered, (QStringList{QString(), chosen}));
        QCOMPARE(fileContent(chosen + QLatin1String(".CSV")),
                 header + "1,a,1,2,3.00,d\r\n2,late,1,1,1,e\r\n");
    }

    void cancelWritesNothing()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        ResultsModel model;
        testsupport::RecordingSaveDialog dialog;
        dialog.answers = {std::nullopt, QStringLiteral("relative")};
        CsvSaveCommand save(dialog);
        QVERIFY(!save.run(model));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
        // A name without a folder lands in the working folder; a cancel is not remembered.
        QVERIFY(save.run(model));
        QCOMPARE(dialog.offered, (QStringList{QString(), QString()}));
        QCOMPARE(fileContent(dir.filePath(QStringLiteral("relative.csv"))), header);
    }

    // Tests run as root, where permissions are not enforced, so the failures
    // are ones root meets too: a folder that is a regular file, and a name one
    // byte short of the file system's limit, which leaves no room for the
    // temporary file an atomic save writes beside the target.
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("oldFileExists");
        QTest::newRow("parent is a file") << QStringLiteral("plain/results") << false;
        QTest::newRow("no room for the temporary file") << QString(251, QLatin1Char('r')) << true;
    }
    void failedSaveKeepsTheOldFile()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, oldFileExists);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("plain")), "a file");
        const QString target = dir.filePath(chosen + QLatin1String(".csv"));
        if (oldFileExists)
            writeFile(target, "old content");
        ResultsModel model;
        model.addRow({"1", "a", "1", "2", "3.00", "d"});
        testsupport::RecordingSaveDialog dialog;
        dialog.answers = {dir.filePath(chosen)};
        CsvSaveCommand save(dialog);

        QString message;
        try {
            save.run(model);
        } catch (const AppError &error) {
            message = error.message();
        }
        const QString prefix = QStringLiteral("Cannot create file \"%1\". ").arg(target);
        QVERIFY2(message.startsWith(prefix) && message.size() > prefix.size(), qPrintable(message));
        QCOMPARE(fileContent(target), oldFileExists ? QByteArray("old content") : QByteArray("<missing>"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(),
                 oldFileExists ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
