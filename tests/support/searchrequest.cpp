#include "searchrequest.h"

#include "text/gbk.h"

namespace testsupport {

QString searchedKeyword(const RecordedRequest &request)
{
    const qsizetype from = request.target.indexOf("?q=") + 3;
    const qsizetype to = request.target.lastIndexOf("&sort=sale-desc");
    return text::fromGbk(QByteArray::fromPercentEncoding(request.target.mid(from, to - from)));
}

QStringList searchedKeywords(const RawHttpServer &server)
{
    QStringList keywords;
    for (const RecordedRequest &request : server.requests())
        keywords.append(searchedKeyword(request));
    return keywords;
}

} // namespace testsupport
