#pragma once

#include "rawhttpserver.h"

#include <QString>
#include <QStringList>

namespace testsupport {

// The keyword a marketplace search request asks for, decoded from the
// percent-encoded GBK bytes the program sent.
QString searchedKeyword(const RecordedRequest &request);
// The keywords the server was asked for, in the order the requests came.
QStringList searchedKeywords(const RawHttpServer &server);

} // namespace testsupport
