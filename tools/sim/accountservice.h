#pragma once

#include "resultpage.h"

#include <QByteArray>
#include <QByteArrayView>

// The forum's account service: the login answer and the small forum pages
// the program opens in the browser.
namespace sim {

// Only this account is accepted.
inline constexpr char demoUser[] = "demo";
inline constexpr char demoPassword[] = "demo";

// The answer to a login request: the demo account's profile, an XML document
// with a declaration and eleven fields (field 1 the account name, 6 the
// points, 7 the e-mail address), or for anything else a refusal without a
// declaration. user and password are the raw bytes of the query values.
QByteArray loginAnswer(QByteArrayView user, QByteArrayView password, PageEncoding encoding);

// The HTML of a forum page by its path ("/jump.asp", "/register.php", "/my.php",
// "/memcp.php"); empty for any other path.
QByteArray forumPage(QByteArrayView path, PageEncoding encoding);

} // namespace sim
