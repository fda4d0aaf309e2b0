#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

// The program's pictures, painted from one drawing rather than stored, so that they are sharp at
// every scale: the splash and the logo for a screen's device pixel ratio (their sizes are in
// logical pixels), the icon at any size in pixels and as SVG.
inline constexpr QSize kSplashSize{350, 200};
inline constexpr QSize kLogoSize{104, 150};

QPixmap SplashPicture(qreal devicePixelRatio);
QPixmap LogoPicture(qreal devicePixelRatio);
// The sizes of the desktop's application icons, 16 to 256 pixels.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The dial centred on a transparent square, painted in `format` (formats of another precision
// take other paths through the painter).
QImage IconImage(int size, QImage::Format format = QImage::Format_ARGB32);
// The window's icon: the dial at every icon size, for the desktop to choose from.
QIcon ProgramIcon();
// The same dial on a 256-unit square.
QString IconSvg();
