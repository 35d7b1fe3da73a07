// window-batch: the baseline-side program of bench/window_batch.sh. Runs one
// batch through the query window, shown on the offscreen platform, against
// the marketplace QUILLMARSH_MARKET_HOST names, and prints
// "pages N seconds S pages/s R" measured as the command line measures its own.
//
//   window-batch SEED

#include "common/browser.h"
#include "common/usermessages.h"
#include "login/usersession.h"
#include "query/querywindow.h"
#include "results/savefiledialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

namespace {

// The end message quits; nothing else is shown or opened in a batch.
class QuitOnMessage final : public UserMessages
{
protected:
    void plainBox(const QString &) override { QApplication::quit(); }
    void errorBox(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void informationBox(const QString &) override {}
};

class NoBrowser final : public Browser
{
public:
    void open(const QByteArray &, Show) override {}
};

class NoSaveDialog final : public SaveFileDialog
{
public:
    std::optional<QString> askFileName(const QString &) override { return std::nullopt; }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: window-batch SEED\n", stderr);
        return 2;
    }
    UserSession session;
    QuitOnMessage messages;
    NoBrowser browser;
    NoSaveDialog saveDialog;
    QueryWindow window(session, messages, browser, saveDialog);
    // The command line's end check, so both sides stop their clocks alike.
    window.scheduler().setEndCheckInterval(20);
    window.show();
    window.findChild<QLineEdit *>(QStringLiteral("Edit1"))->setText(QString::fromLocal8Bit(argv[1]));
    window.findChild<QPushButton *>(QStringLiteral("Button4"))->click();
    app.exec();
    const BatchScheduler &scheduler = window.scheduler();
    const double rate = scheduler.pagesPerSecond();
    std::printf("pages %d seconds %.3f pages/s %.1f\n", scheduler.pagesDone(),
                rate > 0 ? scheduler.pagesDone() / rate : 0.0, rate);
    return 0;
}
