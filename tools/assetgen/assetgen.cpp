// Draws the banner, the program icon and the skin's pictures, and writes them
// into the source tree: quillmarsh-assetgen [repository root].
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

// The skin's palette; assets/skin/quillmarsh.qss uses the same colours.
const QColor accent(0x2b, 0x7b, 0xd8);
const QColor accentDark(0x1c, 0x5a, 0xa8);
const QColor deepBlue(0x17, 0x3a, 0x63);
const QColor mint(0x4f, 0xd1, 0xb5);

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A magnifying glass over three rising bars: searching keywords by sales.
void drawEmblem(QPainter &painter, const QRectF &box, const QColor &glass, const QColor &bars)
{
    const qreal unit = box.width() / 16.0;
    painter.save();
    painter.translate(box.topLeft());
    painter.setPen(Qt::NoPen);
    painter.setBrush(bars);
    const qreal barWidth = 2.2 * unit;
    const qreal heights[] = {3.5, 5.5, 8.0};
    for (int i = 0; i < 3; ++i) {
        const qreal left = (3.0 + i * 2.9) * unit;
        painter.drawRoundedRect(QRectF(left, 13.5 * unit - heights[i] * unit, barWidth, heights[i] * unit),
                                0.5 * unit, 0.5 * unit);
    }
    QPen lens(glass, 1.6 * unit, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(lens);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(6.4 * unit, 6.4 * unit), 4.2 * unit, 4.2 * unit);
    lens.setWidthF(2.2 * unit);
    painter.setPen(lens);
    painter.drawLine(QPointF(9.6 * unit, 9.6 * unit), QPointF(13.6 * unit, 13.6 * unit));
    painter.restore();
}

QImage drawIcon(int size)
{
    QImage image = blankImage(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0.5, 0.5, size - 1.0, size - 1.0);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, accent);
    fill.setColorAt(1, deepBlue);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(tile, size * 0.22, size * 0.22);
    const qreal inset = size * 0.12;
    drawEmblem(painter, tile.adjusted(inset, inset, -inset, -inset), Qt::white, mint);
    return image;
}

QImage drawBanner()
{
    const int width = 362;
    const int height = 65;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, deepBlue);
    sky.setColorAt(0.65, accentDark);
    sky.setColorAt(1, accent);
    painter.fillRect(image.rect(), sky);

    // Soft rings on the right give the flat gradient some depth.
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        QRadialGradient glow(QPointF(330 - i * 46, 8 + i * 22), 60 - i * 12);
        glow.setColorAt(0, QColor(255, 255, 255, 46 - i * 10));
        glow.setColorAt(1, QColor(255, 255, 255, 0));
        painter.setBrush(glow);
        painter.drawEllipse(QPointF(330 - i * 46, 8 + i * 22), 60 - i * 12, 60 - i * 12);
    }
    // A rising sales line in the free corner.
    QPainterPath trend(QPointF(258, 56));
    trend.cubicTo(QPointF(280, 54), QPointF(292, 42), QPointF(308, 38));
    trend.cubicTo(QPointF(324, 34), QPointF(336, 22), QPointF(350, 14));
    painter.setPen(QPen(QColor(255, 255, 255, 90), 2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(trend);
    painter.setBrush(mint);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(350, 14), 3, 3);

    const QImage icon = drawIcon(40);
    painter.drawImage(QPointF(16, 12), icon);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(22);
    title.setWeight(QFont::DemiBold);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(66, 33), QStringLiteral("Quillmarsh"));

    QFont tagline(QStringLiteral("WenQuanYi Micro Hei"));
    tagline.setPixelSize(12);
    painter.setFont(tagline);
    painter.setPen(QColor(0xd6, 0xe6, 0xf8));
    painter.drawText(QPointF(67, 51), QString::fromUtf8("淘宝关键词挖掘 · 长尾词批量查询"));
    return image;
}

// The check box tick: white on the accent-coloured box.
QImage drawTick()
{
    QImage image = blankImage(14, 14);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick(QPointF(3.2, 7.4));
    tick.lineTo(5.9, 10.0);
    tick.lineTo(10.8, 4.2);
    painter.drawPath(tick);
    return image;
}

// The skinned information box's icon.
QImage drawInformation()
{
    QImage image = blankImage(32, 32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(16, 9.5), 2.2, 2.2);
    painter.drawRoundedRect(QRectF(14, 13.5, 4, 11), 1.5, 1.5);
    return image;
}

bool save(const QImage &image, const QString &path, const char *format, int quality = -1)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (image.save(path, format, quality)) {
        std::printf("wrote %s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QDir root(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool ok = save(drawBanner(), root.filePath(QStringLiteral("pic/ad.jpg")), "JPG", 92);
    // 16 to 48 for the windows and the tray; all of them for the desktop's icon theme.
    for (int size : {16, 32, 48, 64, 128, 256})
        ok &= save(drawIcon(size), root.filePath(QStringLiteral("assets/icons/quillmarsh-%1.png").arg(size)),
                   "PNG");
    ok &= save(drawTick(), root.filePath(QStringLiteral("assets/skin/tick.png")), "PNG");
    ok &= save(drawInformation(), root.filePath(QStringLiteral("assets/skin/information.png")), "PNG");
    return ok ? 0 : 1;
}
