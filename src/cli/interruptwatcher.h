#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT (Ctrl-C) into a signal on the event loop. The handler only
// writes a byte to a pipe, which is all a signal handler may safely do; a
// notifier on the pipe's other end emits interrupted(). While the watcher
// exists, Ctrl-C no longer ends the process.
class InterruptWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InterruptWatcher)

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};
