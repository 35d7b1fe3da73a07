#include "common/windowfont.h"

#include <QFontDatabase>
#include <QStringList>

QFont tableWindowFont()
{
    QFont font;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    const QString simSun = QStringLiteral("SimSun");
    font.setFamily(chinese.contains(simSun) ? simSun : chinese.value(0, font.family()));
    font.setPixelSize(12);
    return font;
}
