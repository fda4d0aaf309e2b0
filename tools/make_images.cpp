// Paints the program's pictures: the splash and the logo into resources/images/, the icon at
// every size a desktop asks for and as a scalable SVG into resources/icons/.
// Run it again after changing the drawing: build/default/tools/make_images resources
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QtMath>
#include <cmath>
#include <cstdio>

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

QImage Splash() {
  QImage img(350, 200, QImage::Format_RGB888);
  QPainter p(&img);
  FillBackground(p, img.rect());
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
  return img;
}

QImage Logo() {
  QImage img(104, 150, QImage::Format_RGB888);
  QPainter p(&img);
  FillBackground(p, img.rect());
  DrawDial(p, QPointF(52, 58), 40);
  QFont name(QStringLiteral("Liberation Sans"), 12, QFont::Bold);
  name.setPixelSize(19);
  p.setFont(name);
  p.setPen(kFoam);
  p.drawText(QRect(0, 106, 104, 26), Qt::AlignCenter, QStringLiteral("Pelorin"));
  return img;
}

// The dial centred on a transparent square of any size.
QImage Icon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  DrawDial(p, QPointF(size / 2.0, size / 2.0), size * kIconRadius);
  return img;
}

// A coordinate to two decimals without trailing zeros; adding 0.0 turns -0 into 0.
QString Num(double v) {
  return QString::number(std::round(v * 100) / 100 + 0.0, 'g', 12);
}

QString SvgRect(const QRectF& r, const QColor& fill) {
  return QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
      .arg(Num(r.x()), Num(r.y()), Num(r.width()), Num(r.height()), fill.name());
}

// The same dial as DrawDial, written as SVG on a 256-unit square.
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

bool WriteText(const QString& path, const QString& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(text.toUtf8()) == text.toUtf8().size();
}

// The sizes of the hicolor theme's application icons, 16 to 256 pixels.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  const QDir images(root.filePath(QStringLiteral("images")));
  const QDir icons(root.filePath(QStringLiteral("icons")));
  bool ok = root.mkpath(QStringLiteral("images")) && root.mkpath(QStringLiteral("icons")) &&
            Splash().save(images.filePath(QStringLiteral("splash.png"))) &&
            Logo().save(images.filePath(QStringLiteral("logo.png"))) &&
            WriteText(icons.filePath(QStringLiteral("scalable.svg")), IconSvg());
  for (int size : kIconSizes) {
    ok = ok && Icon(size).save(icons.filePath(QStringLiteral("%1x%1.png").arg(size)));
  }
  if (!ok) std::fprintf(stderr, "could not write the pictures\n");
  return ok ? 0 : 1;
}
