#include "query/querywindowcaption.h"

#include "login/usersession.h"
#include "text/gbk.h"

QString queryWindowCaption(const UserSession &session)
{
    return text::fromGbk(text::toGbk(QStringLiteral("Quillmarsh 1.0 帐号:")) + session.userinfoLine(1) +
                         text::toGbk(QStringLiteral(" 积分：")) + session.userinfoLine(6) +
                         text::toGbk(QStringLiteral(" 电子邮件：")) + session.userinfoLine(7));
}
