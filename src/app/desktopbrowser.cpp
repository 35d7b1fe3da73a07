#include "app/desktopbrowser.h"

#include <QDesktopServices>
#include <QUrl>

void DesktopBrowser::open(const QByteArray &address, Show)
{
    // The address holds raw GBK bytes (keywords, user names); on the wire they
    // travel percent-encoded, which is what the servers decode back to GBK.
    const QByteArray encoded = address.toPercentEncoding(":/?&=#%+,;@!$'()*[]~");
    QDesktopServices::openUrl(QUrl::fromEncoded(encoded));
}
