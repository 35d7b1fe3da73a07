#include "cli/consoleoutput.h"

#include <cstdio>

namespace consoleoutput {

namespace {
void print(std::FILE *stream, const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}
} // namespace

void printLine(const QString &text)
{
    print(stdout, text);
}

void printErrorLine(const QString &text)
{
    print(stderr, text);
}

} // namespace consoleoutput
