// quillmarsh-sim: the account service and the marketplace search on one
// loopback port, for the demo, the tests and the benchmarks.

#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "quillmarsh-sim: %s\n", qPrintable(message));
    std::exit(2);
}

int intOption(const QCommandLineParser &parser, const QString &name, int minimum, int maximum)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        fail(QStringLiteral("--%1 takes a whole number from %2 to %3").arg(name).arg(minimum).arg(maximum));
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmarsh-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the forum's account service and the marketplace search."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1; 0 picks a free one."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("graph-size"),
         QStringLiteral("Keywords a seed reaches through related keywords that contain it."),
         QStringLiteral("N"), QStringLiteral("200")},
        {QStringLiteral("encoding"), QStringLiteral("Encoding of pages and profile: gbk or utf8."),
         QStringLiteral("gbk|utf8"), QStringLiteral("gbk")},
        {QStringLiteral("page-style"),
         QStringLiteral("Markup of result pages: classic (what the built-in market profile reads) or modern "
                        "(read with tools/sim/modern-profile.ini)."),
         QStringLiteral("classic|modern"), QStringLiteral("classic")},
        {QStringLiteral("latency"), QStringLiteral("Delay before every answer."), QStringLiteral("MS"),
         QStringLiteral("0")},
        {QStringLiteral("fail-share"), QStringLiteral("Share of keywords (0 to 1) whose page fails."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("fail-mode"),
         QStringLiteral("How a failing page fails: drop (connection closed mid-body), empty (200 without a "
                        "body) or silence (no answer)."),
         QStringLiteral("drop|empty|silence"), QStringLiteral("drop")},
        {QStringLiteral("page-size"), QStringLiteral("Bytes a result page is padded to."),
         QStringLiteral("BYTES"), QStringLiteral("200000")},
        {QStringLiteral("access-log"), QStringLiteral("Write every request target to this file, one a line."),
         QStringLiteral("FILE")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    sim::ServerOptions options;
    options.graphSize = intOption(parser, QStringLiteral("graph-size"), 1, 100'000'000);
    options.latencyMs = intOption(parser, QStringLiteral("latency"), 0, 600'000);
    options.pageSize = intOption(parser, QStringLiteral("page-size"), 0, 64 * 1024 * 1024);

    options.accessLog = parser.value(QStringLiteral("access-log"));

    const QString encoding = parser.value(QStringLiteral("encoding"));
    if (encoding == QLatin1String("gbk"))
        options.encoding = sim::PageEncoding::Gbk;
    else if (encoding == QLatin1String("utf8"))
        options.encoding = sim::PageEncoding::Utf8;
    else
        fail(QStringLiteral("--encoding takes gbk or utf8"));

    const QString style = parser.value(QStringLiteral("page-style"));
    if (style == QLatin1String("classic"))
        options.pageStyle = sim::PageStyle::Classic;
    else if (style == QLatin1String("modern"))
        options.pageStyle = sim::PageStyle::Modern;
    else
        fail(QStringLiteral("--page-style takes classic or modern"));

    bool shareOk = false;
    options.failShare = parser.value(QStringLiteral("fail-share")).toDouble(&shareOk);
    if (!shareOk || options.failShare < 0 || options.failShare > 1)
        fail(QStringLiteral("--fail-share takes a number from 0 to 1"));

    const QString mode = parser.value(QStringLiteral("fail-mode"));
    if (mode == QLatin1String("drop"))
        options.failMode = sim::FailMode::Drop;
    else if (mode == QLatin1String("empty"))
        options.failMode = sim::FailMode::Empty;
    else if (mode == QLatin1String("silence"))
        options.failMode = sim::FailMode::Silence;
    else
        fail(QStringLiteral("--fail-mode takes drop, empty or silence"));

    sim::SimServer server(options);
    if (!server.listen(quint16(intOption(parser, QStringLiteral("port"), 0, 65535))))
        fail(QStringLiteral("cannot listen: %1").arg(server.errorString()));
    // Scripts and tests wait for this line to learn the port.
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
