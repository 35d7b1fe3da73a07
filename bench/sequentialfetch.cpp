// sequential-fetch: the baseline of the loopback batch measure. Fetches the
// given request targets in order over one kept-alive connection, one request
// in flight, reading each answer by its Content-Length and nothing more, and
// prints "pages N seconds S pages/s R".
//
//   sequential-fetch HOST:PORT TARGETS_FILE

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <cstdio>

namespace {

// Reads one answer; false when the connection ends or stalls first.
bool readAnswer(QTcpSocket &socket, QByteArray &buffer)
{
    constexpr int stallMs = 30'000;
    qsizetype headEnd;
    while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
        if (!socket.waitForReadyRead(stallMs))
            return false;
        buffer += socket.readAll();
    }
    const qsizetype lengthAt = buffer.first(headEnd).toLower().indexOf("\r\ncontent-length:");
    if (lengthAt < 0)
        return false;
    const qsizetype lengthEnd = buffer.indexOf("\r\n", lengthAt + 2);
    const qsizetype total =
        headEnd + 4 + buffer.sliced(lengthAt + 17, lengthEnd - lengthAt - 17).trimmed().toLongLong();
    while (buffer.size() < total) {
        if (!socket.waitForReadyRead(stallMs))
            return false;
        buffer += socket.readAll();
    }
    buffer.remove(0, total);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QFile targetsFile(arguments.value(2));
    const QStringList hostPort = arguments.value(1).split(QLatin1Char(':'));
    if (arguments.size() != 3 || hostPort.size() != 2 || !targetsFile.open(QIODevice::ReadOnly)) {
        std::fputs("usage: sequential-fetch HOST:PORT TARGETS_FILE\n", stderr);
        return 2;
    }
    QList<QByteArray> targets = targetsFile.readAll().split('\n');
    targets.removeAll(QByteArray());

    QTcpSocket socket;
    socket.connectToHost(hostPort[0], quint16(hostPort[1].toUInt()));
    if (!socket.waitForConnected(10'000)) {
        std::fprintf(stderr, "sequential-fetch: %s\n", qPrintable(socket.errorString()));
        return 1;
    }
    const QByteArray headers = " HTTP/1.1\r\nHost: " + arguments[1].toLatin1() + "\r\n\r\n";
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray &target : targets) {
        socket.write("GET " + target + headers);
        if (!readAnswer(socket, buffer)) {
            std::fprintf(stderr, "sequential-fetch: no whole answer for %s\n", target.constData());
            return 1;
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("pages %lld seconds %.3f pages/s %.1f\n", qlonglong(targets.size()), seconds,
                seconds > 0 ? targets.size() / seconds : 0.0);
    return 0;
}
