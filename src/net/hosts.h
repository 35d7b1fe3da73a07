#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The two servers the program talks to. Each is a built-in constant that an
// environment variable overrides (host or host:port), read at every use so a
// test or the local simulator can redirect a running process's next request.
namespace hosts {

// QUILLMARSH_MARKET_HOST, else the marketplace search host.
QByteArray marketHost();
// QUILLMARSH_ACCOUNT_HOST, else the forum's account service host.
QByteArray accountHost();

// An address on the account service: pathAndQuery starts with '/'.
QByteArray accountUrl(QByteArrayView pathAndQuery);

} // namespace hosts
