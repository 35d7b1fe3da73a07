#include "common/apperror.h"
#include "gbkliteral.h"
#include "login/credentials.h"
#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::gbk;

Q_DECLARE_METATYPE(Credentials::State)

namespace {

QByteArray readAll(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Every test works in a fresh directory that is also the working directory,
// since the file name is resolved against it at each access.
class WorkingDirectory
{
public:
    WorkingDirectory() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~WorkingDirectory() { QDir::setCurrent(m_previous); }
    Q_DISABLE_COPY_MOVE(WorkingDirectory)

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Files may grow to limit bytes while it lives: a real short write as root.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{limit, m_previous.rlim_max};
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void save_data()
    {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<QByteArray>("userName");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<Credentials::State>("loaded");

        QTest::newRow("remembered") << true << QByteArray("demo") << QByteArray("s3cret pass")
                                    << QByteArray("demo\r\ns3cret pass\r\n1\r\n")
                                    << Credentials::State::Remembered;
        QTest::newRow("forgotten") << false << QByteArray("demo") << QByteArray("s3cret")
                                   << QByteArray("xxx\r\nxxx\r\nxxx\r\n") << Credentials::State::Forgotten;
        QTest::newRow("chinese user name")
            << true << gbk("张三") << QByteArray("p") << gbk("张三") + "\r\np\r\n1\r\n"
            << Credentials::State::Remembered;
        QTest::newRow("empty password") << true << QByteArray("demo") << QByteArray()
                                        << QByteArray("demo\r\n\r\n1\r\n") << Credentials::State::Remembered;
        QTest::newRow("user name xxx") << true << QByteArray("xxx") << QByteArray("xxx")
                                       << QByteArray("xxx\r\nxxx\r\n1\r\n") << Credentials::State::Remembered;
    }
    void save()
    {
        QFETCH(bool, remember);
        QFETCH(QByteArray, userName);
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, contents);
        QFETCH(Credentials::State, loaded);
        WorkingDirectory directory;
        writeFile(directory.filePath(QStringLiteral("info.dat")), "an older, longer file\r\nline\r\n1\r\n");

        Credentials::save(remember, userName, password);

        QCOMPARE(readAll(directory.filePath(QStringLiteral("info.dat"))), contents);
        const Credentials back = Credentials::load();
        QCOMPARE(back.state, loaded);
        QCOMPARE(back.userName, remember ? userName : QByteArray());
        QCOMPARE(back.password, remember ? password : QByteArray());
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<Credentials::State>("state");
        QTest::addColumn<QByteArray>("userName");
        QTest::addColumn<QByteArray>("password");

        const auto remembered = Credentials::State::Remembered;
        const auto forgotten = Credentials::State::Forgotten;
        const auto absent = Credentials::State::Absent;
        QTest::newRow("LF only") << QByteArray("u\np\n1\n") << remembered << QByteArray("u")
                                 << QByteArray("p");
        QTest::newRow("CR only") << QByteArray("u\rp\r1\r") << remembered << QByteArray("u")
                                 << QByteArray("p");
        QTest::newRow("no final line end")
            << QByteArray("u\r\np\r\n1") << remembered << QByteArray("u") << QByteArray("p");
        QTest::newRow("more than three lines") << QByteArray("u\r\np\r\n1\r\nxxx\r\nmore\r\n") << remembered
                                               << QByteArray("u") << QByteArray("p");
        QTest::newRow("zero byte after the flag")
            << QByteArray("u\r\np\r\n1\0junk\r\n", 15) << remembered << QByteArray("u") << QByteArray("p");
        QTest::newRow("chinese user name") << gbk("张三") + "\r\np\r\n1\r\n"
                                           << remembered << gbk("张三") << QByteArray("p");
        QTest::newRow("space after the 1")
            << QByteArray("u\r\np\r\n1 \r\n") << forgotten << QByteArray() << QByteArray();
        QTest::newRow("leading zero")
            << QByteArray("u\r\np\r\n01\r\n") << forgotten << QByteArray() << QByteArray();
        QTest::newRow("a word") << QByteArray("u\r\np\r\nyes\r\n") << forgotten << QByteArray()
                                << QByteArray();
        QTest::newRow("forgotten form")
            << QByteArray("xxx\r\nxxx\r\nxxx\r\n") << forgotten << QByteArray() << QByteArray();
        QTest::newRow("two lines") << QByteArray("u\r\np\r\n") << absent << QByteArray() << QByteArray();
        QTest::newRow("zero byte before the flag")
            << QByteArray("u\r\np\0\r\n1\r\n", 10) << absent << QByteArray() << QByteArray();
        QTest::newRow("empty file") << QByteArray("") << absent << QByteArray() << QByteArray();
        QTest::newRow("no file") << QByteArray() << absent << QByteArray() << QByteArray();
        // Only the first 4 KiB are read.
        QTest::newRow("three lines beyond the first 4 KiB") << QByteArray(5000, 'u') + "\r\np\r\n1\r\n"
                                                            << absent << QByteArray() << QByteArray();
        QTest::newRow("large file, three lines first") << "u\r\np\r\n1\r\n" + QByteArray(8 << 20, 'x')
                                                       << remembered << QByteArray("u") << QByteArray("p");
    }
    void load()
    {
        QFETCH(QByteArray, contents);
        QFETCH(Credentials::State, state);
        QFETCH(QByteArray, userName);
        QFETCH(QByteArray, password);
        WorkingDirectory directory;
        if (!contents.isNull())
            writeFile(directory.filePath(QStringLiteral("info.dat")), contents);

        const Credentials loaded = Credentials::load();

        QCOMPARE(loaded.state, state);
        QCOMPARE(loaded.userName, userName);
        QCOMPARE(loaded.password, password);
    }

    // Not a regular file: refused at once. A FIFO would hold the start-up
    // until a writer came; here one comes after a while, and would be read.
    void unreadableFile_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("directory") << false;
        QTest::newRow("FIFO") << true;
    }
    void unreadableFile()
    {
        QFETCH(bool, fifo);
        WorkingDirectory directory;
        const QString fileName = directory.filePath(QStringLiteral("info.dat"));
        std::atomic<bool> loaded = false;
        std::thread writer;
        if (fifo) {
            QCOMPARE(::mkfifo(QFile::encodeName(fileName).constData(), 0600), 0);
            writer = std::thread([&loaded, path = QFile::encodeName(fileName)] {
                for (int attempt = 0; attempt < 200 && !loaded; ++attempt) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
                    if (fd < 0)
                        continue; // no reader yet
                    [[maybe_unused]] const ssize_t written = ::write(fd, "u\r\np\r\n1\r\n", 9);
                    ::close(fd);
                    return;
                }
            });
        } else {
            QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("info.dat")));
        }
        const auto joinWriter = qScopeGuard([&] {
            loaded = true;
            if (writer.joinable())
                writer.join();
        });
        const QString prefix = QStringLiteral("Cannot open file \"") + fileName + QStringLiteral("\". ");
        try {
            Credentials::load();
            QFAIL("info.dat was read");
        } catch (const AppError &error) {
            QVERIFY2(error.message().startsWith(prefix) && error.message().size() > prefix.size(),
                     qPrintable(error.message()));
        }
    }

    // A folder the user may not write, holding an info.dat the user may: the
    // replacement cannot be made beside it, so the file is written in place.
    // As root, permissions hold only once the file-system user is someone else.
    void saveInUnwritableFolder()
    {
        WorkingDirectory directory;
        const QString fileName = directory.filePath(QStringLiteral("info.dat"));
        writeFile(fileName, "old\r\nfile\r\n1\r\n");
        const bool root = ::geteuid() == 0;
        constexpr uid_t nobody = 65534;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(fileName).constData(), nobody, nobody), 0);
        QVERIFY(QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                            QFile::ReadGroup | QFile::ExeGroup |
                                                            QFile::ReadOther | QFile::ExeOther));
        const auto restore = qScopeGuard([&] {
            if (root)
                ::setfsuid(0);
            QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (root)
            ::setfsuid(nobody);

        Credentials::save(true, "user", "pw");

        QCOMPARE(readAll(fileName), QByteArray("user\r\npw\r\n1\r\n"));
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("info.dat")});
    }

    void ownerOnly_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new file") << false;
        QTest::newRow("replacing a world-readable file") << true;
    }
    void ownerOnly()
    {
        QFETCH(bool, existing);
        WorkingDirectory directory;
        const QString fileName = directory.filePath(QStringLiteral("info.dat"));
        if (existing) {
            writeFile(fileName, "old");
            QVERIFY(QFile::setPermissions(fileName, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                        QFile::ReadOther));
        }

        Credentials::save(true, "u", "p");

        QCOMPARE(QFile::permissions(fileName),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // Tests run as root, so permissions cannot make a save fail: the first
    // case puts the file under a path whose "directory" is a regular file, the
    // second lowers the process's file size limit so the write itself falls short.
    void saveFailure_data()
    {
        QTest::addColumn<QString>("relativeName");
        QTest::addColumn<bool>("shortWrite");
        QTest::newRow("parent is a regular file") << QStringLiteral("plain/info.dat") << false;
        QTest::newRow("short write") << QStringLiteral("info.dat") << true;
    }
    void saveFailure()
    {
        QFETCH(QString, relativeName);
        QFETCH(bool, shortWrite);
        WorkingDirectory directory;
        writeFile(directory.filePath(QStringLiteral("plain")), "a file, not a directory");
        const QByteArray old = "old\r\nfile\r\n1\r\n";
        writeFile(directory.filePath(QStringLiteral("info.dat")), old);
        const QString expected = shortWrite ? QStringLiteral("Stream write error")
                                            : QStringLiteral("Cannot create file \"") +
                                                  directory.filePath(relativeName) + QStringLiteral("\". ");

        QString thrown;
        try {
            std::optional<FileSizeLimit> limit;
            if (shortWrite)
                limit.emplace(4);
            Credentials::save(true, "a long enough user name", "and its password", relativeName);
        } catch (const AppError &error) {
            thrown = error.message();
        }

        QVERIFY2(thrown.startsWith(expected) && (shortWrite || thrown.size() > expected.size()),
                 qPrintable(thrown));
        QCOMPARE(readAll(directory.filePath(QStringLiteral("info.dat"))), old);
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("info.dat"), QStringLiteral("plain")}));
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
