#include "wizard/front/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <QtMath>
#include <array>

#include "run/wizard_view.h"

namespace artwork {
namespace {

// Both large pictures are designed in a fixed coordinate space and scaled onto their widget.
constexpr double kBannerW = 141.0;
constexpr double kBannerH = 358.0;
constexpr double kDcW = 389.0;
constexpr double kDcH = 174.0;

QColor White(int alpha) {
    return QColor(255, 255, 255, alpha);
}

void PaintBubble(QPainter& p, QPointF c, double r) {
    p.setBrush(White(28));
    p.setPen(QPen(White(150), 0.9));
    p.drawEllipse(c, r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(White(210));
    p.drawEllipse(QPointF(c.x() - r * 0.38, c.y() - r * 0.38), r * 0.26, r * 0.22);
}

void PaintFish(QPainter& p, QPointF at, double size, bool facingLeft) {
    p.save();
    p.translate(at);
    if (facingLeft) {
        p.scale(-1.0, 1.0);
    }
    QPainterPath fish;
    fish.moveTo(size, 0);
    fish.cubicTo(size * 0.6, -size * 0.45, -size * 0.3, -size * 0.4, -size * 0.6, 0);
    fish.cubicTo(-size * 0.3, size * 0.4, size * 0.6, size * 0.45, size, 0);
    fish.moveTo(-size * 0.55, 0);
    fish.lineTo(-size * 1.05, -size * 0.35);
    fish.lineTo(-size * 0.95, 0);
    fish.lineTo(-size * 1.05, size * 0.35);
    fish.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8e, 0xc8, 0xf2, 70));
    p.drawPath(fish);
    p.restore();
}

void PaintSeaweed(QPainter& p, double x, double baseY, double height, double sway) {
    QPainterPath weed;
    weed.moveTo(x, baseY);
    weed.cubicTo(x + sway, baseY - height * 0.35, x - sway, baseY - height * 0.7, x + sway * 0.5,
                 baseY - height);
    p.drawPath(weed);
}

void PaintWater(QPainter& p) {
    QLinearGradient water(0, 0, 0, kBannerH);
    water.setColorAt(0.0, QColor(0x4a, 0xa8, 0xe8));
    water.setColorAt(0.16, QColor(0x1a, 0x70, 0xbe));
    water.setColorAt(0.6, QColor(0x0b, 0x3d, 0x80));
    water.setColorAt(1.0, QColor(0x03, 0x15, 0x35));
    p.fillRect(QRectF(0, 0, kBannerW, kBannerH), water);
}

void PaintSunRays(QPainter& p) {
    struct Ray {
        double top, bottom, topHalf, bottomHalf;
    };
    const std::array<Ray, 4> rays{{{18, -14, 6, 22}, {58, 66, 8, 28}, {96, 136, 5, 20}, {128, 176, 4, 16}}};
    p.setPen(Qt::NoPen);
    for (const Ray& ray : rays) {
        QLinearGradient fade(0, 0, 0, kBannerH * 0.8);
        fade.setColorAt(0, White(60));
        fade.setColorAt(1, White(0));
        QPainterPath beam;
        beam.moveTo(ray.top - ray.topHalf, 0);
        beam.lineTo(ray.top + ray.topHalf, 0);
        beam.lineTo(ray.bottom + ray.bottomHalf, kBannerH * 0.8);
        beam.lineTo(ray.bottom - ray.bottomHalf, kBannerH * 0.8);
        beam.closeSubpath();
        p.setBrush(fade);
        p.drawPath(beam);
    }
}

void PaintSurfaceRipples(QPainter& p) {
    p.setBrush(Qt::NoBrush);
    for (int ripple = 0; ripple < 3; ++ripple) {
        const double y = 8 + ripple * 9;
        const double amplitude = 2.2 - ripple * 0.5;
        QPainterPath wave;
        wave.moveTo(-4, y);
        for (double x = -4; x < kBannerW + 8; x += 24) {
            wave.cubicTo(x + 6, y - amplitude, x + 6, y - amplitude, x + 12, y);
            wave.cubicTo(x + 18, y + amplitude, x + 18, y + amplitude, x + 24, y);
        }
        p.setPen(QPen(White(110 - ripple * 30), 1.2));
        p.drawPath(wave);
    }
}

void PaintSeaFloor(QPainter& p) {
    // The weed first: the sand covers its roots.
    p.setPen(QPen(QColor(0x0d, 0x5a, 0x5a), 2.6, Qt::SolidLine, Qt::RoundCap));
    PaintSeaweed(p, 14, 340, 46, 7);
    PaintSeaweed(p, 22, 342, 30, -5);
    PaintSeaweed(p, 118, 338, 40, -6);
    PaintSeaweed(p, 127, 340, 24, 5);
    QPainterPath floor;
    floor.moveTo(0, kBannerH);
    floor.lineTo(0, 334);
    floor.cubicTo(22, 326, 40, 340, 62, 336);
    floor.cubicTo(84, 332, 104, 322, 141, 330);
    floor.lineTo(kBannerW, kBannerH);
    floor.closeSubpath();
    QLinearGradient sand(0, 322, 0, kBannerH);
    sand.setColorAt(0, QColor(0x0a, 0x2c, 0x52));
    sand.setColorAt(1, QColor(0x02, 0x0d, 0x20));
    p.setPen(Qt::NoPen);
    p.setBrush(sand);
    p.drawPath(floor);
}

void PaintBubbleTrails(QPainter& p) {
    struct Bubble {
        double x, y, r;
    };
    const std::array<Bubble, 17> bubbles{{{38, 306, 5.5},
                                          {45, 276, 4},
                                          {36, 250, 6},
                                          {48, 222, 3.5},
                                          {40, 196, 5},
                                          {53, 168, 3},
                                          {44, 142, 4.5},
                                          {56, 116, 3},
                                          {48, 92, 4},
                                          {59, 70, 2.6},
                                          {52, 52, 3.2},
                                          {104, 262, 3},
                                          {97, 236, 4},
                                          {108, 150, 2.5},
                                          {101, 128, 3.5},
                                          {111, 104, 2},
                                          {105, 84, 3}}};
    for (const Bubble& bubble : bubbles) {
        PaintBubble(p, QPointF(bubble.x, bubble.y), bubble.r);
    }
}

void PaintEdgeHighlight(QPainter& p) {
    // Separates the banner from the page.
    p.setPen(QPen(White(45), 1.0));
    p.drawLine(QPointF(kBannerW - 0.5, 0), QPointF(kBannerW - 0.5, kBannerH));
}

void PaintScreenText(QPainter& p, const QRectF& box, const QString& text, double pixelSize, bool bold) {
    QFont font = p.font();
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setBold(bold);
    p.setFont(font);
    p.drawText(box, Qt::AlignCenter, text);
}

void PaintComputer(QPainter& p) {
    // Laptop on the right, showing a small wizard window with a progress bar.
    const QRectF lid(292, 34, 88, 62);
    QLinearGradient lidShade(lid.topLeft(), lid.bottomLeft());
    lidShade.setColorAt(0, QColor(0x46, 0x50, 0x5e));
    lidShade.setColorAt(1, QColor(0x27, 0x2e, 0x38));
    p.setPen(QPen(QColor(0x1c, 0x22, 0x2a), 1.0));
    p.setBrush(lidShade);
    p.drawRoundedRect(lid, 5, 5);

    const QRectF display = lid.adjusted(6, 6, -6, -8);
    QLinearGradient glow(display.topLeft(), display.bottomRight());
    glow.setColorAt(0, QColor(0xf4, 0xf8, 0xfd));
    glow.setColorAt(1, QColor(0xc9, 0xdc, 0xf0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRect(display);
    p.setBrush(QColor(0x16, 0x5f, 0xb0));
    p.drawRect(QRectF(display.left(), display.top(), display.width(), 8));
    p.setBrush(QColor(0x9d, 0xb4, 0xcc));
    for (int line = 0; line < 3; ++line) {
        p.drawRect(QRectF(display.left() + 6, display.top() + 14 + line * 7,
                          display.width() * (0.7 - line * 0.15), 3));
    }
    const QRectF bar(display.left() + 6, display.bottom() - 10, display.width() - 12, 5);
    p.setBrush(White(255));
    p.setPen(QPen(QColor(0x7f, 0x9d, 0xbd), 0.8));
    p.drawRect(bar);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x9b, 0x4f));
    p.drawRect(QRectF(bar.left(), bar.top(), bar.width() * 0.6, bar.height()));

    QPainterPath base;
    base.moveTo(282, 97);
    base.lineTo(390, 97);
    base.lineTo(384, 107);
    base.lineTo(288, 107);
    base.closeSubpath();
    QLinearGradient baseShade(0, 97, 0, 107);
    baseShade.setColorAt(0, QColor(0xc3, 0xcb, 0xd5));
    baseShade.setColorAt(1, QColor(0x80, 0x8b, 0x98));
    p.setPen(QPen(QColor(0x5a, 0x64, 0x70), 0.8));
    p.setBrush(baseShade);
    p.drawPath(base);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5a, 0x64, 0x70));
    p.drawRoundedRect(QRectF(325, 98, 22, 2.5), 1, 1);
}

void PaintCableAndClip(QPainter& p) {
    // The cable runs from the clip's strain relief to a USB plug at the laptop's side.
    QPainterPath cable;
    cable.moveTo(212, 87);
    cable.cubicTo(246, 87, 236, 132, 262, 128);
    cable.cubicTo(276, 126, 270, 103, 272, 103);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x2a, 0x30, 0x38), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(cable);
    p.setPen(QPen(White(60), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable.translated(-0.6, -1.0));

    const QRectF plug(268, 98, 16, 10);
    QLinearGradient plugShade(plug.topLeft(), plug.bottomLeft());
    plugShade.setColorAt(0, QColor(0xe6, 0xea, 0xee));
    plugShade.setColorAt(1, QColor(0x95, 0x9f, 0xaa));
    p.setPen(QPen(QColor(0x55, 0x5e, 0x68), 0.8));
    p.setBrush(plugShade);
    p.drawRoundedRect(plug, 1.5, 1.5);

    const QRectF relief(200, 81, 14, 12);
    p.setBrush(QColor(0x2f, 0x35, 0x3d));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(relief, 3, 3);

    const QRectF body(166, 66, 38, 42);
    QLinearGradient bodyShade(body.topLeft(), body.bottomLeft());
    bodyShade.setColorAt(0, QColor(0x4d, 0xa3, 0xf0));
    bodyShade.setColorAt(0.5, QColor(0x1e, 0x74, 0xc8));
    bodyShade.setColorAt(1, QColor(0x10, 0x4f, 0x96));
    p.setPen(QPen(QColor(0x0b, 0x3d, 0x77), 1.0));
    p.setBrush(bodyShade);
    p.drawRoundedRect(body, 7, 7);
    p.setPen(QPen(White(90), 1.1));
    for (int ridge = 0; ridge < 4; ++ridge) {
        const double x = body.left() + 16 + ridge * 5;
        p.drawLine(QPointF(x, body.top() + 9), QPointF(x, body.bottom() - 9));
    }
    // The jaw that grips the DC's data port.
    const QRectF jaw(160, 74, 12, 26);
    p.setPen(QPen(QColor(0x0b, 0x3d, 0x77), 1.0));
    p.setBrush(QColor(0x15, 0x5e, 0xad));
    p.drawRoundedRect(jaw, 3, 3);
}

void PaintStrap(QPainter& p, QPointF centre) {
    // Painted first: it lies behind the case.
    const QRectF strap(93, 2, 54, 170);
    QLinearGradient rubber(strap.topLeft(), strap.topRight());
    rubber.setColorAt(0, QColor(0x23, 0x27, 0x2d));
    rubber.setColorAt(0.5, QColor(0x4a, 0x51, 0x5b));
    rubber.setColorAt(1, QColor(0x23, 0x27, 0x2d));
    p.setPen(Qt::NoPen);
    p.setBrush(rubber);
    p.drawRoundedRect(strap, 14, 14);
    p.setPen(QPen(QColor(0x16, 0x19, 0x1d), 1.2));
    for (int rib = 0; rib < 3; ++rib) {
        const double y = 12 + rib * 8;
        p.drawLine(QPointF(strap.left() + 8, y), QPointF(strap.right() - 8, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x12, 0x14, 0x18));
    for (int hole = 0; hole < 2; ++hole) {
        p.drawEllipse(QPointF(centre.x(), 152 + hole * 10), 3.2, 2.4);
    }
}

void PaintPushers(QPainter& p, QPointF centre) {
    // On the left flank: Advance above, Select below.
    struct Pusher {
        double angle;
        const char* label;
    };
    const std::array<Pusher, 2> pushers{{{150.0, "A"}, {210.0, "S"}}};
    for (const Pusher& pusher : pushers) {
        const double rad = qDegreesToRadians(pusher.angle);
        const QPointF at(centre.x() + 61 * qCos(rad), centre.y() - 61 * qSin(rad));
        p.save();
        p.translate(at);
        p.rotate(-pusher.angle);
        QLinearGradient metal(0, -6, 0, 6);
        metal.setColorAt(0, QColor(0xf0, 0xf2, 0xf5));
        metal.setColorAt(1, QColor(0x7e, 0x88, 0x94));
        p.setPen(QPen(QColor(0x4e, 0x57, 0x62), 0.8));
        p.setBrush(metal);
        p.drawRoundedRect(QRectF(-3, -6, 9, 12), 2, 2);
        p.restore();
        const QPointF labelAt(centre.x() + 78 * qCos(rad), centre.y() - 78 * qSin(rad));
        p.setPen(QColor(0x16, 0x4a, 0x85));
        PaintScreenText(p, QRectF(labelAt.x() - 8, labelAt.y() - 8, 16, 16),
                        QString::fromLatin1(pusher.label), 12, true);
    }
}

void PaintBezelAndRing(QPainter& p, QPointF centre) {
    QRadialGradient bezel(centre.x() - 18, centre.y() - 22, 80);
    bezel.setColorAt(0, QColor(0xfb, 0xfc, 0xfd));
    bezel.setColorAt(0.55, QColor(0xb7, 0xc0, 0xca));
    bezel.setColorAt(1, QColor(0x65, 0x70, 0x7d));
    p.setPen(QPen(QColor(0x4a, 0x53, 0x5e), 1.0));
    p.setBrush(bezel);
    p.drawEllipse(centre, 60, 60);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1c, 0x21, 0x28));
    p.drawEllipse(centre, 50, 50);
    p.setPen(QPen(QColor(0x6b, 0x76, 0x83), 1.2));
    for (int tick = 0; tick < 12; ++tick) {
        const double rad = qDegreesToRadians(tick * 30.0);
        p.drawLine(QPointF(centre.x() + 45 * qCos(rad), centre.y() + 45 * qSin(rad)),
                   QPointF(centre.x() + 48.5 * qCos(rad), centre.y() + 48.5 * qSin(rad)));
    }
}

void PaintLcd(QPainter& p, QPointF centre) {
    QLinearGradient lcd(centre.x(), centre.y() - 40, centre.x(), centre.y() + 40);
    lcd.setColorAt(0, QColor(0xe3, 0xee, 0xe2));
    lcd.setColorAt(1, QColor(0xa8, 0xc2, 0xab));
    p.setPen(QPen(QColor(0x4f, 0x66, 0x55), 1.2));
    p.setBrush(lcd);
    p.drawEllipse(centre, 40, 40);

    p.setPen(QColor(0x1b, 0x28, 0x20));
    PaintScreenText(p, QRectF(centre.x() - 36, centre.y() - 28, 72, 34), QStringLiteral("PC"), 27, true);
    PaintScreenText(p, QRectF(centre.x() - 30, centre.y() + 8, 60, 16), QStringLiteral("120"), 13, false);
    p.setPen(Qt::NoPen);
    p.setBrush(White(70));
    QPainterPath glare;
    glare.moveTo(centre.x() - 34, centre.y() - 14);
    glare.cubicTo(centre.x() - 30, centre.y() - 36, centre.x() - 6, centre.y() - 42, centre.x() + 14,
                  centre.y() - 36);
    glare.cubicTo(centre.x() - 6, centre.y() - 32, centre.x() - 26, centre.y() - 24, centre.x() - 34,
                  centre.y() - 14);
    p.drawPath(glare);
}

void PaintWristUnit(QPainter& p) {
    const QPointF centre(120, 87);
    PaintStrap(p, centre);
    PaintPushers(p, centre);
    PaintBezelAndRing(p, centre);
    PaintLcd(p, centre);
}

QPixmap RenderGlyph(int size, void (*paint)(QPainter&, const QRectF&)) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paint(p, QRectF(0, 0, size, size));
    return pixmap;
}

void PaintRoundBadge(QPainter& p, const QRectF& r, QColor light, QColor dark) {
    const QRectF disc = r.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient shade(disc.topLeft(), disc.bottomLeft());
    shade.setColorAt(0, light);
    shade.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(130), r.width() / 16.0));
    p.setBrush(shade);
    p.drawEllipse(disc);
}

QPen GlyphPen(const QRectF& r) {
    return QPen(Qt::white, r.width() * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void PaintStarted(QPainter& p, const QRectF& r) {
    PaintRoundBadge(p, r, QColor(0x5c, 0xb0, 0xf5), QColor(0x15, 0x5f, 0xba));
    const double w = r.width();
    QPainterPath play;
    play.moveTo(r.left() + w * 0.38, r.top() + w * 0.27);
    play.lineTo(r.left() + w * 0.74, r.top() + w * 0.5);
    play.lineTo(r.left() + w * 0.38, r.top() + w * 0.73);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(play);
}

void PaintInformation(QPainter& p, const QRectF& r) {
    PaintRoundBadge(p, r, QColor(0x6f, 0xd8, 0x78), QColor(0x23, 0x8a, 0x36));
    const double w = r.width();
    QPainterPath tick;
    tick.moveTo(r.left() + w * 0.26, r.top() + w * 0.52);
    tick.lineTo(r.left() + w * 0.43, r.top() + w * 0.69);
    tick.lineTo(r.left() + w * 0.75, r.top() + w * 0.33);
    p.setPen(GlyphPen(r));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
}

void PaintFailure(QPainter& p, const QRectF& r) {
    PaintRoundBadge(p, r, QColor(0xf5, 0x6c, 0x6c), QColor(0xb3, 0x1d, 0x1d));
    const double w = r.width();
    p.setPen(GlyphPen(r));
    p.drawLine(QPointF(r.left() + w * 0.32, r.top() + w * 0.32),
               QPointF(r.left() + w * 0.68, r.top() + w * 0.68));
    p.drawLine(QPointF(r.left() + w * 0.68, r.top() + w * 0.32),
               QPointF(r.left() + w * 0.32, r.top() + w * 0.68));
}

QIcon IconFrom(void (*paint)(QPainter&, const QRectF&), std::initializer_list<int> sizes) {
    QIcon icon;
    for (int size : sizes) {
        icon.addPixmap(RenderGlyph(size, paint));
    }
    return icon;
}

}  // namespace

void PaintSideBanner(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(r);
    p.translate(r.topLeft());
    p.scale(r.width() / kBannerW, r.height() / kBannerH);
    PaintWater(p);
    PaintSunRays(p);
    PaintSurfaceRipples(p);
    PaintFish(p, QPointF(100, 178), 9, true);
    PaintFish(p, QPointF(116, 192), 7, true);
    PaintFish(p, QPointF(88, 196), 6, true);
    PaintSeaFloor(p);
    PaintBubbleTrails(p);
    PaintEdgeHighlight(p);
    p.restore();
}

void PaintDiveComputer(QPainter& p, const QRectF& r) {
    if (r.width() <= 0 || r.height() <= 0) {
        return;
    }
    const double scale = qMin(r.width() / kDcW, r.height() / kDcH);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.translate(r.left() + (r.width() - kDcW * scale) / 2.0, r.top());
    p.scale(scale, scale);
    PaintComputer(p);
    PaintCableAndClip(p);
    PaintWristUnit(p);
    p.restore();
}

void PaintDiveComputerGlyph(QPainter& p, const QRectF& r) {
    const double s = qMin(r.width(), r.height());
    const QPointF c = r.center();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2b, 0x33, 0x3e));
    p.drawRoundedRect(QRectF(c.x() - s * 0.21, r.top() + (r.height() - s) / 2.0, s * 0.42, s), s * 0.12,
                      s * 0.12);

    QRadialGradient bezel(c.x() - s * 0.12, c.y() - s * 0.12, s * 0.5);
    bezel.setColorAt(0, QColor(0xf6, 0xf8, 0xfa));
    bezel.setColorAt(1, QColor(0x7b, 0x87, 0x95));
    p.setPen(QPen(QColor(0x3e, 0x47, 0x52), qMax(0.6, s / 32.0)));
    p.setBrush(bezel);
    p.drawEllipse(c, s * 0.38, s * 0.38);

    QLinearGradient screen(c.x(), c.y() - s * 0.27, c.x(), c.y() + s * 0.27);
    screen.setColorAt(0, QColor(0x5f, 0xbd, 0xf5));
    screen.setColorAt(1, QColor(0x12, 0x5e, 0xb0));
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawEllipse(c, s * 0.27, s * 0.27);
    if (s >= 24) {
        p.setPen(QPen(White(220), s / 18.0, Qt::SolidLine, Qt::RoundCap));
        QPainterPath wave;
        wave.moveTo(c.x() - s * 0.16, c.y() + s * 0.04);
        wave.cubicTo(c.x() - s * 0.08, c.y() - s * 0.06, c.x() + s * 0.0, c.y() + s * 0.14, c.x() + s * 0.16,
                     c.y() + s * 0.02);
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    p.restore();
}

QIcon TaskIcon(int icon) {
    switch (icon) {
        case IconStarted:
            return IconFrom(PaintStarted, {16, 32});
        case IconInformation:
            return IconFrom(PaintInformation, {16, 32});
        case IconFailure:
            return IconFrom(PaintFailure, {16, 32});
        default:
            return {};
    }
}

QIcon WindowIcon() {
    return IconFrom(PaintDiveComputerGlyph, {16, 24, 32, 48, 64, 128, 256});
}

}  // namespace artwork
