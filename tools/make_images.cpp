// Paints the program's pictures (splash, logo, icon) into resources/images/.
// Run it again after changing the drawing: build/default/tools/make_images resources/images
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QtMath>
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

// A sighting dial: a ring with ticks and a sighting bar across it.
void DrawDial(QPainter& p, QPointF c, double radius) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient face(c, radius);
  face.setColorAt(0, kFoam);
  face.setColorAt(1, QColor(170, 200, 222));
  p.setBrush(face);
  p.setPen(QPen(kBrass, radius * 0.10));
  p.drawEllipse(c, radius, radius);
  p.setPen(QPen(kDeep, std::max(1.0, radius * 0.03)));
  for (int i = 0; i < 36; ++i) {
    const double a = qDegreesToRadians(i * 10.0);
    const double inner = radius * (i % 9 == 0 ? 0.70 : 0.82);
    p.drawLine(QPointF(c.x() + inner * std::cos(a), c.y() + inner * std::sin(a)),
               QPointF(c.x() + radius * 0.92 * std::cos(a), c.y() + radius * 0.92 * std::sin(a)));
  }
  // The sighting bar (alidade) with a vane at each end, laid across the dial.
  p.translate(c);
  p.rotate(-30);
  p.setPen(Qt::NoPen);
  p.setBrush(kDeep);
  p.drawRect(QRectF(-radius * 0.80, -radius * 0.05, radius * 1.60, radius * 0.10));
  p.setBrush(kBrass);
  p.drawRect(QRectF(-radius * 0.84, -radius * 0.22, radius * 0.10, radius * 0.44));
  p.drawRect(QRectF(radius * 0.74, -radius * 0.22, radius * 0.10, radius * 0.44));
  p.drawEllipse(QPointF(0, 0), radius * 0.12, radius * 0.12);
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

QImage Icon() {
  QImage img(32, 32, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  DrawDial(p, QPointF(16, 16), 14);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  const bool ok = Splash().save(dir.filePath("splash.png")) &&
                  Logo().save(dir.filePath("logo.png")) && Icon().save(dir.filePath("icon.png"));
  if (!ok) std::fprintf(stderr, "could not write the pictures\n");
  return ok ? 0 : 1;
}
