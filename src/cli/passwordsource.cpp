#include "cli/passwordsource.h"

#include <QtGlobal>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace passwordsource {

namespace {

// The terminal's settings before echo was switched off, for the signal handler.
termios terminalBefore = {};
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Ctrl-C at the prompt must not leave the user's terminal without echo: put
// the settings back, then end as the signal would have.
void restoreTerminalAndEnd(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminalBefore);
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

// Echo is off from construction to destruction, whatever ends the process meanwhile.
class SilentTerminal
{
public:
    explicit SilentTerminal(const termios &before)
    {
        terminalBefore = before;
        struct sigaction restoring = {};
        restoring.sa_handler = restoreTerminalAndEnd;
        sigemptyset(&restoring.sa_mask);
        for (int i = 0; i < int(std::size(endingSignals)); ++i)
            sigaction(endingSignals[i], &restoring, &m_previous[i]);
        termios silent = before;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    ~SilentTerminal()
    {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminalBefore);
        for (int i = 0; i < int(std::size(endingSignals)); ++i)
            sigaction(endingSignals[i], &m_previous[i], nullptr);
    }
    Q_DISABLE_COPY_MOVE(SilentTerminal)

private:
    struct sigaction m_previous[std::size(endingSignals)] = {};
};

QByteArray readLine()
{
    QByteArray line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.append(char(c));
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QByteArray read()
{
    if (qEnvironmentVariableIsSet("QUILLMARSH_PASSWORD"))
        return qgetenv("QUILLMARSH_PASSWORD");

    termios before = {};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &before) != 0)
        return readLine();
    QByteArray line;
    {
        const SilentTerminal silent(before);
        std::fputs("密码：", stderr);
        std::fflush(stderr);
        line = readLine();
    }
    std::fputs("\n", stderr);
    return line;
}

} // namespace passwordsource
