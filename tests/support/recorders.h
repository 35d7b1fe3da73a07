#pragma once

#include "common/browser.h"
#include "common/usermessages.h"

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

namespace testsupport {

// Records every box instead of showing it, so no test ever blocks on a modal box.
class RecordingMessages final : public UserMessages
{
public:
    enum class Kind
    {
        Plain,
        Error,
        Information
    };
    struct Shown
    {
        Kind kind;
        QString text;
        bool operator==(const Shown &) const = default;
    };

    QList<Shown> shown;
    // Runs while a box would be open (a real box runs a nested event loop).
    std::function<void(const Shown &)> whileOpen;

    QStringList texts() const;

protected:
    void plainBox(const QString &text) override { record({Kind::Plain, text}); }
    void errorBox(const QString &text) override { record({Kind::Error, text}); }
    void informationBox(const QString &text) override { record({Kind::Information, text}); }

private:
    void record(const Shown &box);
};

// Records the addresses the program asked the browser to open.
class RecordingBrowser final : public Browser
{
public:
    QList<QPair<QByteArray, Show>> opened;
    void open(const QByteArray &address, Show show) override { opened.append({address, show}); }
};

} // namespace testsupport
