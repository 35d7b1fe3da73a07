#include "benchrows.h"

#include "text/gbk.h"

#include <QStringList>
#include <random>

QList<ResultRow> makeRows(int count)
{
    std::mt19937 random(20261209);
    const QStringList words =
        QString::fromUtf8("连衣裙 夏季 新款 女装 韩版 修身 显瘦 雪纺 长款 碎花 套装 男士 "
                          "休闲 运动 鞋 包 手机壳 耳机 充电宝 保温杯")
            .split(QLatin1Char(' '));
    QList<QByteArray> gbkWords;
    for (const QString &word : words)
        gbkWords.append(text::toGbk(word));
    auto phrase = [&](int parts) {
        QByteArray result;
        for (int i = 0; i < parts; ++i)
            result += gbkWords[random() % gbkWords.size()];
        return result;
    };
    QList<ResultRow> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int cents = int(random() % 100000);
        rows.append(
            {QByteArray::number(i + 1), phrase(2 + int(random() % 3)),
             QByteArray::number(quint32(random() % 5000000)), QByteArray::number(quint32(random() % 20000)),
             QByteArray::number(cents / 100) + '.' + QByteArray::number(cents % 100).rightJustified(2, '0'),
             phrase(6 + int(random() % 6))});
    }
    return rows;
}
