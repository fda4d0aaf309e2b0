#include "shell/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace {

const QColor kDeep(12, 38, 72);
const QColor kSea(24, 92, 140);
const QColor kBrass(226, 178, 72);
const QColor kFoam(236, 244, 250);

void FillBackground(QPainter& p, const QRect& r) {
  QLinearGradient g(r.topLeft(), r.bottomRight());
  g.setColorAt(0, kSea);
  g.setColorAt(1, kDeep);
  p.fillRect(r, g);
}

// The dial's proportions as fractions of its radius. The painter and the SVG writer both draw
// from them, so the icon looks the same at every size and in every format.
constexpr double kRimWidth = 0.10;
constexpr double kTickWidth = 0.03;
constexpr double kTickMajorInner = 0.70;
constexpr double kTickMinorInner = 0.82;
constexpr double kTickOuter = 0.92;
constexpr int kTickCount = 36;
constexpr int kMajorTickEvery = 9;  // a long tick every 90 degrees
constexpr double kBarAngle = -30;   // degrees, as QPainter and SVG both rotate
constexpr double kBarHalfLength = 0.80;
constexpr double kBarHalfWidth = 0.05;
constexpr double kVaneOuter = 0.84;
constexpr double kVaneInner = 0.74;
constexpr double kVaneWidth = 0.10;
constexpr double kVaneHalfHeight = 0.22;
constexpr double kHubRadius = 0.12;
constexpr double kSmallDialRadius = 12;      // pixels: the 16 to 24 px icons
constexpr double kIconRadius = 14.0 / 32.0;  // of the icon's side, as on the 32 px icon
const QColor kFaceEdge(170, 200, 222);

// Tick i runs from inner to outer along the angle i * 10 degrees.
QLineF Tick(QPointF c, double radius, int i) {
  const double a = qDegreesToRadians(i * 360.0 / kTickCount);
  const double inner = radius * (i % kMajorTickEvery == 0 ? kTickMajorInner : kTickMinorInner);
  return QLineF(QPointF(c.x() + inner * std::cos(a), c.y() + inner * std::sin(a)),
                QPointF(c.x() + radius * kTickOuter * std::cos(a),
                        c.y() + radius * kTickOuter * std::sin(a)));
}

// The sighting bar (alidade) and its two vanes, around the origin before the rotation.
QRectF Bar(double radius) {
  return QRectF(-radius * kBarHalfLength, -radius * kBarHalfWidth, radius * 2 * kBarHalfLength,
                radius * 2 * kBarHalfWidth);
}
QRectF Vane(double radius, bool left) {
  const double x = left ? -radius * kVaneOuter : radius * kVaneInner;
  return QRectF(x, -radius * kVaneHalfHeight, radius * kVaneWidth, radius * 2 * kVaneHalfHeight);
}

// A sighting dial: a ring with ticks and a sighting bar across it.
void DrawDial(QPainter& p, QPointF c, double radius) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient face(c, radius);
  face.setColorAt(0, kFoam);
  face.setColorAt(1, kFaceEdge);
  p.setBrush(face);
  p.setPen(QPen(kBrass, radius * kRimWidth));
  p.drawEllipse(c, radius, radius);
  p.setPen(QPen(kDeep, std::max(1.0, radius * kTickWidth)));
  // On small icons a tick cannot be thinner than a pixel, and 36 of them merge into a dark
  // ring that hides the rim: those keep the four main ticks only.
  const int tickStep = radius < kSmallDialRadius ? kMajorTickEvery : 1;
  for (int i = 0; i < kTickCount; i += tickStep) p.drawLine(Tick(c, radius, i));
  p.translate(c);
  p.rotate(kBarAngle);
  p.setPen(Qt::NoPen);
  p.setBrush(kDeep);
  p.drawRect(Bar(radius));
  p.setBrush(kBrass);
  p.drawRect(Vane(radius, true));
  p.drawRect(Vane(radius, false));
  p.drawEllipse(QPointF(0, 0), radius * kHubRadius, radius * kHubRadius);
  p.restore();
}

// A picture of `size` (logical pixels) for a screen of `devicePixelRatio`: as many pixels as
// that screen shows it with, painted in logical pixels.
QImage Canvas(QSize size, qreal devicePixelRatio) {
  const qreal ratio = std::max<qreal>(devicePixelRatio, 1);
  // The format a pixmap keeps as it is, so the picture is not converted once more.
  QImage img(qCeil(size.width() * ratio), qCeil(size.height() * ratio), QImage::Format_RGB32);
  img.setDevicePixelRatio(ratio);
  return img;
}

}  // namespace

QPixmap SplashPicture(qreal devicePixelRatio) {
  QImage img = Canvas(kSplashSize, devicePixelRatio);
  QPainter p(&img);
  FillBackground(p, QRect(QPoint(), kSplashSize));
  DrawDial(p, QPointF(82, 100), 62);
  p.setPen(kFoam);
  QFont title(QStringLiteral("Liberation Sans"), 30, QFont::Bold);
  title.setPixelSize(40);
  p.setFont(title);
  p.drawText(QRect(156, 52, 190, 48), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Pelorin"));
  QFont sub(QStringLiteral("Liberation Sans"));
  sub.setPixelSize(15);
  p.setFont(sub);
  p.setPen(kBrass);
  p.drawText(QRect(158, 100, 190, 22), Qt::AlignLeft, QStringLiteral("Network Toolbox"));
  sub.setPixelSize(11);
  p.setFont(sub);
  p.setPen(kFoam);
  p.drawText(QRect(158, 150, 190, 18), Qt::AlignLeft, QStringLiteral("Starting..."));
  p.end();
  return QPixmap::fromImage(img);
}

QPixmap LogoPicture(qreal devicePixelRatio) {
  QImage img = Canvas(kLogoSize, devicePixelRatio);
  QPainter p(&img);
  FillBackground(p, QRect(QPoint(), kLogoSize));
  DrawDial(p, QPointF(52, 58), 40);
  QFont name(QStringLiteral("Liberation Sans"), 12, QFont::Bold);
  name.setPixelSize(19);
  p.setFont(name);
  p.setPen(kFoam);
  p.drawText(QRect(0, 106, 104, 26), Qt::AlignCenter, QStringLiteral("Pelorin"));
  p.end();
  return QPixmap::fromImage(img);
}

namespace {

QImage PaintIcon(int size, QImage::Format format) {
  QImage img(size, size, format);
  img.fill(Qt::transparent);
  QPainter p(&img);
  DrawDial(p, QPointF(size / 2.0, size / 2.0), size * kIconRadius);
  return img;
}

}  // namespace

QImage IconImage(int size, QImage::Format format) {
  return PaintIcon(size, format);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) {
    // Premultiplied, as a pixmap keeps it (see Canvas).
    icon.addPixmap(QPixmap::fromImage(IconImage(size, QImage::Format_ARGB32_Premultiplied)));
  }
  return icon;
}

namespace {

// A coordinate to two decimals without trailing zeros; adding 0.0 turns -0 into 0.
QString Num(double v) {
  return QString::number(std::round(v * 100) / 100 + 0.0, 'g', 12);
}

QString SvgRect(const QRectF& r, const QColor& fill) {
  return QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
      .arg(Num(r.x()), Num(r.y()), Num(r.width()), Num(r.height()), fill.name());
}

}  // namespace

QString IconSvg() {
  constexpr double kSize = 256;
  const QPointF c(kSize / 2, kSize / 2);
  const double radius = kSize * kIconRadius;
  QString svg = QStringLiteral(
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                    "viewBox=\"0 0 %1 %1\">\n"
                    "  <defs>\n"
                    "    <radialGradient id=\"face\" gradientUnits=\"userSpaceOnUse\" cx=\"%2\" "
                    "cy=\"%2\" r=\"%3\">\n"
                    "      <stop offset=\"0\" stop-color=\"%4\"/>\n"
                    "      <stop offset=\"1\" stop-color=\"%5\"/>\n"
                    "    </radialGradient>\n"
                    "  </defs>\n"
                    "  <circle cx=\"%2\" cy=\"%2\" r=\"%3\" fill=\"url(#face)\" stroke=\"%6\" "
                    "stroke-width=\"%7\"/>\n")
                    .arg(Num(kSize), Num(c.x()), Num(radius), kFoam.name(), kFaceEdge.name(),
                         kBrass.name(), Num(radius * kRimWidth));
  // QPen's default square caps, so the ticks are as long as the painted ones.
  svg += QStringLiteral("  <g stroke=\"%1\" stroke-width=\"%2\" stroke-linecap=\"square\">\n")
             .arg(kDeep.name(), Num(radius * kTickWidth));
  for (int i = 0; i < kTickCount; ++i) {
    const QLineF t = Tick(c, radius, i);
    svg += QStringLiteral("    <line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\"/>\n")
               .arg(Num(t.x1()), Num(t.y1()), Num(t.x2()), Num(t.y2()));
  }
  svg += QStringLiteral("  </g>\n  <g transform=\"translate(%1 %2) rotate(%3)\">\n")
             .arg(Num(c.x()), Num(c.y()), Num(kBarAngle));
  svg += SvgRect(Bar(radius), kDeep);
  svg += SvgRect(Vane(radius, true), kBrass);
  svg += SvgRect(Vane(radius, false), kBrass);
  svg += QStringLiteral("    <circle r=\"%1\" fill=\"%2\"/>\n  </g>\n</svg>\n")
             .arg(Num(radius * kHubRadius), kBrass.name());
  return svg;
}
