#include "accountservice.h"

#include <QStringEncoder>

namespace sim {

namespace {

QByteArray encoded(const QString &text, PageEncoding encoding)
{
    QStringEncoder encoder(encoding == PageEncoding::Gbk ? "GBK" : "UTF-8");
    return encoder.encode(text);
}

QString charsetName(PageEncoding encoding)
{
    return encoding == PageEncoding::Gbk ? QStringLiteral("gbk") : QStringLiteral("utf-8");
}

} // namespace

QByteArray loginAnswer(QByteArrayView user, QByteArrayView password, PageEncoding encoding)
{
    if (user != QByteArrayView(demoUser) || password != QByteArrayView(demoPassword))
        return QByteArrayLiteral("<result>0</result>");

    // Indented as the service writes it; the white space between the fields
    // is not a field.
    const QString declared =
        encoding == PageEncoding::Gbk ? QStringLiteral("GB2312") : QStringLiteral("UTF-8");
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\r\n"
                                       "<user>\r\n"
                                       "  <uid>10086</uid>\r\n"
                                       "  <username>%2</username>\r\n"
                                       "  <group>注册会员</group>\r\n"
                                       "  <regdate>2009-06-18</regdate>\r\n"
                                       "  <lastvisit>2026-12-01 20:15</lastvisit>\r\n"
                                       "  <posts>128</posts>\r\n"
                                       "  <credits>2560</credits>\r\n"
                                       "  <email>demo@example.com</email>\r\n"
                                       "  <nickname>演示用户</nickname>\r\n"
                                       "  <expires>2027-12-31</expires>\r\n"
                                       "  <status>正常</status>\r\n"
                                       "</user>\r\n")
                            .arg(declared, QLatin1String(demoUser));
    return encoded(xml, encoding);
}

QByteArray forumPage(QByteArrayView path, PageEncoding encoding)
{
    QString title;
    QString body;
    if (path == "/jump.asp") {
        title = QStringLiteral("登录成功");
        body = QStringLiteral("<p>登录成功，正在返回论坛首页……</p>");
    } else if (path == "/register.php") {
        title = QStringLiteral("注册");
        body = QStringLiteral(
            "<form method=\"post\" action=\"/register.php\"><p>用户名 <input name=\"username\"></p>"
            "<p>密码 <input type=\"password\" name=\"password\"></p>"
            "<p><input type=\"submit\" value=\"提交\"></p></form>");
    } else if (path == "/my.php") {
        title = QStringLiteral("我的帖子");
        body = QStringLiteral("<ul><li><a href=\"/thread-1-1-1.html\">关键词工具使用心得</a></li>"
                              "<li><a href=\"/thread-2-1-1.html\">夏季连衣裙选词分享</a></li></ul>");
    } else if (path == "/memcp.php") {
        title = QStringLiteral("修改密码");
        body = QStringLiteral(
            "<form method=\"post\" action=\"/memcp.php\"><p>原密码 <input type=\"password\" "
            "name=\"oldpassword\"></p><p>新密码 <input type=\"password\" name=\"newpassword\"></p>"
            "<p><input type=\"submit\" value=\"提交\"></p></form>");
    } else {
        return {};
    }
    return encoded(QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"%1\">\n"
                                  "<title>%2 - Corvyn 站长论坛</title>\n</head>\n<body>\n<h1>%2</h1>\n%3\n"
                                  "</body>\n</html>\n")
                       .arg(charsetName(encoding), title, body),
                   encoding);
}

} // namespace sim
