#include "resultpage.h"

#include <QStringEncoder>

namespace sim {

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// The title as shown, with the keyword highlighted.
QString highlighted(const QString &title, const QString &keyword)
{
    return escaped(title).replace(escaped(keyword),
                                  QStringLiteral("<span class=\"H\">%1</span>").arg(escaped(keyword)));
}

QString itemMarkup(const ListedItem &item, int index, const QString &keyword)
{
    const QString id = QString::number(520000000 + index * 7919);
    QString html;
    html += QStringLiteral("<div class=\"item\" nid=\"%1\" data-index=\"%2\">\n").arg(id).arg(index);
    html += QStringLiteral(
                "  <div class=\"pic-box\"><a href=\"http://item.example/item.htm?id=%1\" target=\"_blank\">"
                "<img src=\"http://img.example/bao/uploaded/i%2/%1.jpg_180x180.jpg\" alt=\"\"></a></div>\n")
                .arg(id)
                .arg(index % 4 + 1);
    html += QStringLiteral(
                "  <h3 class=\"summary\"><a href=\"http://item.example/item.htm?id=%1\" target=\"_blank\" "
                "class=\"EventCanSelect\" title=\"%2\">%3</a></h3>\n")
                .arg(id, escaped(item.title), highlighted(item.title, keyword));
    html += QStringLiteral("  <ul class=\"attribute\">\n"
                           "    <li class=\"price\"><em>%1</em></li>\n"
                           "    <li class=\"shipment\"><span class=\"fee\">运费：0.00</span></li>\n"
                           "    <li class=\"sale\">最近成交%2笔</li>\n"
                           "    <li class=\"loc\">浙江 杭州</li>\n"
                           "  </ul>\n")
                .arg(item.price)
                .arg(item.sales);
    html +=
        QStringLiteral("  <div class=\"seller\"><a href=\"http://shop.example/shop%1.htm\" class=\"nick\">"
                       "店铺%1</a><span class=\"rank\" data-rank=\"%2\"></span>"
                       "<span class=\"icon-service\" title=\"消费者保障\"></span></div>\n"
                       "</div>\n")
            .arg(index * 37 % 1000)
            .arg(index % 20);
    return html;
}

QString relatedBlock(const QStringList &related)
{
    // The entries follow the heading directly: the first "<dd>" comes right
    // after the heading's colon.
    QString html = QStringLiteral("<div class=\"related-search\">你是不是想找：");
    for (const QString &keyword : related)
        html += QStringLiteral("<dd><a href=\"/search?q=%1&amp;sort=sale-desc\">%2</a></dd>")
                    .arg(escaped(keyword), escaped(keyword));
    html += QStringLiteral("</div>\n");
    return html;
}

QString classicBody(const ResultPage &page)
{
    QString body =
        QStringLiteral("<div class=\"result-info\">共找到相关宝贝<em>%1</em>件</div>\n").arg(page.itemCount);
    body += relatedBlock(page.related);
    body += QStringLiteral("<div class=\"item-list\">\n");
    for (int i = 0; i < page.items.size(); ++i)
        body += itemMarkup(page.items[i], i, page.keyword);
    body += QStringLiteral("</div>\n");
    return body;
}

QString modernItemMarkup(const ListedItem &item, int index, const QString &keyword)
{
    const QString id = QString::number(630000000 + index * 7919);
    return QStringLiteral(
               "<div class=\"card\" data-id=\"%1\">\n"
               "  <a class=\"title\" href=\"http://item.example/detail?id=%1\" data-title=\"%2\">%3</a>\n"
               "  <div class=\"price\"><strong>%4</strong></div>\n"
               "  <span class=\"deal-cnt\">%5人付款</span>\n"
               "</div>\n")
        .arg(id, escaped(item.title), highlighted(item.title, keyword), item.price)
        .arg(item.sales);
}

QString modernBody(const ResultPage &page)
{
    QString body = QStringLiteral("<div class=\"summary\">共<span class=\"total\">%1</span>件商品</div>\n")
                       .arg(page.itemCount);
    body += QStringLiteral("<div class=\"suggest\"><h4>相关搜索</h4><ul>");
    for (const QString &keyword : page.related)
        body += QStringLiteral("<li><a href=\"/search?q=%1\">%2</a></li>")
                    .arg(escaped(keyword), escaped(keyword));
    body += QStringLiteral("</ul></div>\n<div class=\"grid\">\n");
    for (int i = 0; i < page.items.size(); ++i)
        body += modernItemMarkup(page.items[i], i, page.keyword);
    body += QStringLiteral("</div>\n");
    return body;
}

QString padding(int index)
{
    // Stands for the style and script weight of a real page.
    return QStringLiteral(
               ".s%1{margin:0 %2px;padding:%3px 0;background:url(http://img.example/sprite.png) no-repeat "
               "-%4px -%5px;color:#%6;}\n")
        .arg(index)
        .arg(index % 13)
        .arg(index % 7)
        .arg(index * 16 % 512)
        .arg(index * 24 % 768)
        .arg(0x333333 + index * 0x10101 % 0xCCCCCC, 6, 16, QLatin1Char('0'));
}

// The first whole padding lines that make at least `bytes` bytes. The lines
// are the same on every page, so they are made once per thread.
QByteArrayView paddingLines(qsizetype bytes)
{
    if (bytes <= 0)
        return {};
    thread_local QByteArray lines;
    thread_local int count = 0;
    while (lines.size() < bytes)
        lines += padding(count++).toLatin1();
    return QByteArrayView(lines).first(lines.indexOf('\n', bytes - 1) + 1);
}

} // namespace

QByteArray renderResultPage(const ResultPage &page, PageEncoding encoding, int paddedTo, PageStyle style)
{
    const QString charset = encoding == PageEncoding::Gbk ? QStringLiteral("gbk") : QStringLiteral("utf-8");
    QString head = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"%1\">\n"
                                  "<title>%2 - 淘宝搜索</title>\n<style>\n")
                       .arg(charset, escaped(page.keyword));
    QString body =
        QStringLiteral("</style>\n</head>\n<body>\n<div id=\"page\">\n"
                       "<div class=\"search-bar\"><form action=\"/search\"><input name=\"q\" value=\"%1\">"
                       "<input type=\"hidden\" name=\"sort\" value=\"sale-desc\"></form></div>\n")
            .arg(escaped(page.keyword));
    body += style == PageStyle::Classic ? classicBody(page) : modernBody(page);
    body += QStringLiteral("<div class=\"page-nav\"><a href=\"/search?s=40\">下一页</a></div>\n"
                           "</div>\n</body>\n</html>\n");

    // Padding goes into the stylesheet, ahead of every marker, as on real pages.
    // Its lines are ASCII, so their length in characters is their length in bytes.
    QStringEncoder encoder(encoding == PageEncoding::Gbk ? "GBK" : "UTF-8");
    QByteArray bytes = encoder.encode(head);
    const QByteArray bodyBytes = encoder.encode(body);
    const QByteArrayView styles = paddingLines(paddedTo - bytes.size() - bodyBytes.size());
    bytes.reserve(bytes.size() + styles.size() + bodyBytes.size());
    return bytes.append(styles).append(bodyBytes);
}

} // namespace sim
