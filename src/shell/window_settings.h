#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// What the main window keeps between runs: its place and size when not maximised, whether it was
// maximised, and the output text size. Kept in an INI file in the user's configuration folder.
struct WindowSettings {
  std::optional<QPoint> place;
  std::optional<QSize> size;
  bool maximized = false;
  std::optional<int> textSize;
};

// This user's settings file: pelorin/pelorin.ini in the configuration folder ($XDG_CONFIG_HOME,
// else ~/.config).
QString DefaultSettingsFile();

// Reads the settings; a value that is missing or not a number is left out, and a file that is
// damaged or cannot be read gives none at all.
WindowSettings ReadWindowSettings(const QString& file);

// Writes the settings, in place of whatever the file held; failures are silent (the window then
// opens as described next time).
void WriteWindowSettings(const QString& file, const WindowSettings& settings);

// Whether `geometry` lies wholly on the screens there are now (their areas left to windows).
bool FitsScreens(const QRect& geometry);
// Whether a window of this size fits on one of the screens there are now.
bool FitsAScreen(const QSize& size);

// Whether the platform lets a program place its windows. A Wayland compositor places them
// itself, and what a program reads back there as its place means nothing.
bool PlatformPlacesWindows();
