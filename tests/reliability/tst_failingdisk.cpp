#include "common/apperror.h"
#include "login/credentials.h"
#include "results/csvexport.h"
#include "results/resultsmodel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A 64 KiB tmpfs of our own, unmounted at the end.
class SmallDisk
{
public:
    SmallDisk()
    {
        m_mounted =
            m_base.isValid() && run(QStringLiteral("mount"),
                                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                     QStringLiteral("size=64k"), QStringLiteral("tmpfs"), m_base.path()});
    }
    ~SmallDisk()
    {
        if (m_mounted)
            run(QStringLiteral("umount"), {m_base.path()});
    }
    Q_DISABLE_COPY_MOVE(SmallDisk)

    bool isMounted() const { return m_mounted; }
    QString filePath(const QString &name) const { return m_base.filePath(name); }

    // Writes a file until the disk refuses more.
    void fill() const
    {
        QFile filler(filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    bool makeReadOnly() const
    {
        return run(QStringLiteral("mount"),
                   {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_base.path()});
    }
    QStringList files() const
    {
        return QDir(m_base.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

private:
    QTemporaryDir m_base;
    bool m_mounted = false;
};

void writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray someResults()
{
    ResultsModel results;
    for (int i = 1; i <= 50; ++i)
        results.addRow({QByteArray::number(i), "keyword " + QByteArray::number(i), "1234", "56", "25.00",
                        "a description, with a comma and \"quotes\""});
    return csvexport::resultsCsv(results);
}

} // namespace

// The files the program writes, saved over a previous version on a disk that
// is full or read-only: the save fails with its message and the previous file
// stays as it was, with no leftover beside it.
class TestFailingDisk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void previousFileKept_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("expected"); // the message, or its start when it ends with ". "

        QTest::newRow("info.dat, disk full")
            << QStringLiteral("info.dat") << false << QStringLiteral("Stream write error");
        QTest::newRow("info.dat, read-only")
            << QStringLiteral("info.dat") << true << QStringLiteral("Cannot create file \"%1\". ");
        QTest::newRow("CSV, disk full")
            << QStringLiteral("results.csv") << false << QStringLiteral("Cannot create file \"%1\". ");
        QTest::newRow("CSV, read-only")
            << QStringLiteral("results.csv") << true << QStringLiteral("Cannot create file \"%1\". ");
    }
    void previousFileKept()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, readOnly);
        QFETCH(QString, expected);
        SmallDisk disk;
        if (!disk.isMounted())
            QSKIP("mounting a tmpfs is not permitted here");
        const QString path = disk.filePath(fileName);
        const QByteArray previous = "the previous\r\ncontent\r\n1\r\n";
        writeFile(path, previous);
        if (readOnly)
            QVERIFY(disk.makeReadOnly());
        else
            disk.fill();
        const QStringList filesBefore = disk.files();

        QString message;
        try {
            if (fileName == QLatin1String("info.dat"))
                Credentials::save(true, "user", "a password", path);
            else
                csvexport::save(path, [](QIODevice *file) { csvexport::write(file, someResults()); });
        } catch (const AppError &error) {
            message = error.message();
        }

        if (expected.endsWith(QLatin1String(". "))) {
            const QString prefix = expected.arg(path);
            QVERIFY2(message.startsWith(prefix) && message.size() > prefix.size(), qPrintable(message));
        } else {
            QCOMPARE(message, expected);
        }
        QCOMPARE(readFile(path), previous);
        QCOMPARE(disk.files(), filesBefore);
    }
};

QTEST_GUILESS_MAIN(TestFailingDisk)
#include "tst_failingdisk.moc"
