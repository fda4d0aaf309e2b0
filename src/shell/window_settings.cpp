#include "shell/window_settings.h"

#include <QGuiApplication>
#include <QRegion>
#include <QScreen>
#include <QSettings>

namespace {

constexpr const char* kX = "window/x";
constexpr const char* kY = "window/y";
constexpr const char* kWidth = "window/width";
constexpr const char* kHeight = "window/height";
constexpr const char* kMaximized = "window/maximized";
constexpr const char* kTextSize = "output/textSize";

std::optional<int> Number(const QSettings& s, const char* key) {
  bool ok = false;
  const int value = s.value(QLatin1String(key)).toString().toInt(&ok);
  return ok ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

QString DefaultSettingsFile() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("pelorin"),
                   QStringLiteral("pelorin"))
      .fileName();
}

WindowSettings ReadWindowSettings(const QString& file) {
  WindowSettings read;
  if (file.isEmpty()) return read;
  const QSettings s(file, QSettings::IniFormat);
  if (s.status() != QSettings::NoError) return read;
  const std::optional<int> x = Number(s, kX), y = Number(s, kY), width = Number(s, kWidth),
                           height = Number(s, kHeight);
  if (x && y) read.place = QPoint(*x, *y);
  if (width && height) read.size = QSize(*width, *height);
  read.maximized = s.value(QLatin1String(kMaximized)).toString() == QLatin1String("true");
  read.textSize = Number(s, kTextSize);
  return read;
}

void WriteWindowSettings(const QString& file, const WindowSettings& settings) {
  if (file.isEmpty()) return;
  QSettings s(file, QSettings::IniFormat);
  s.clear();  // a damaged file's keys go too
  if (settings.place) {
    s.setValue(QLatin1String(kX), settings.place->x());
    s.setValue(QLatin1String(kY), settings.place->y());
  }
  if (settings.size) {
    s.setValue(QLatin1String(kWidth), settings.size->width());
    s.setValue(QLatin1String(kHeight), settings.size->height());
  }
  s.setValue(QLatin1String(kMaximized), settings.maximized);
  if (settings.textSize) s.setValue(QLatin1String(kTextSize), *settings.textSize);
  s.sync();
}

bool FitsScreens(const QRect& geometry) {
  if (geometry.isEmpty()) return false;
  QRegion screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens += screen->availableGeometry();
  return QRegion(geometry).subtracted(screens).isEmpty();
}

bool FitsAScreen(const QSize& size) {
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QSize room = screen->availableGeometry().size();
    if (size.width() <= room.width() && size.height() <= room.height()) return true;
  }
  return false;
}

bool PlatformPlacesWindows() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
