#include "cli/passwordsource.h"

#include <QtGlobal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace passwordsource {

QByteArray read()
{
    if (qEnvironmentVariableIsSet("QUILLMARSH_PASSWORD"))
        return qgetenv("QUILLMARSH_PASSWORD");

    termios saved = {};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fputs("密码：", stderr);
        std::fflush(stderr);
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.append(char(c));
    if (line.endsWith('\r'))
        line.chop(1);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return line;
}

} // namespace passwordsource
