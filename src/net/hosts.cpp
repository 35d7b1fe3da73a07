#include "net/hosts.h"

#include <QtGlobal>

namespace hosts {

namespace {
QByteArray hostFromEnvironment(const char *variable, const char *builtIn)
{
    const QByteArray value = qgetenv(variable).trimmed();
    return value.isEmpty() ? QByteArray(builtIn) : value;
}
} // namespace

QByteArray marketHost()
{
    return hostFromEnvironment("QUILLMARSH_MARKET_HOST", "s.taobao.com");
}

QByteArray accountHost()
{
    return hostFromEnvironment("QUILLMARSH_ACCOUNT_HOST", "bbs.corvyn.com");
}

QByteArray accountUrl(QByteArrayView pathAndQuery)
{
    return "http://" + accountHost() + pathAndQuery.toByteArray();
}

} // namespace hosts
