#pragma once

#include <QPalette>
#include <cstdint>

class QDBusConnection;

// The desktop's preference of colours.
enum class ColorScheme { kNoPreference, kDark, kLight };

// The settings portal's org.freedesktop.appearance color-scheme: 1 dark, 2 light, anything else
// no preference.
ColorScheme ColorSchemeFromPortal(uint32_t value);

// The palette for a scheme, given the platform's own: the platform's wherever it suits the
// scheme (always with no preference), else the program's dark one or the style's light one.
// Every colour the windows use comes from a palette role, so the output, the hex layouts and the
// endpoint list are readable in both; the pictures keep their own colours.
QPalette PaletteForScheme(ColorScheme scheme, const QPalette& platform);

// From now on the application's palette follows the desktop's scheme as the settings portal on
// `bus` gives it (asked without waiting, then told of every change), and as Qt itself gives it
// where Qt knows it (6.5 and newer). Without a portal the platform's palette stays. A later call
// replaces the earlier one.
void FollowDesktopColorScheme(const QDBusConnection& bus);
