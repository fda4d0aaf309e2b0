// Paints the program's icon at every size a desktop asks for and as a scalable SVG, for the
// desktop entry; the build runs it and installs what it paints. (The splash and the logo are
// painted by the program itself, for the screen it shows them on.)
//   make_images DIR               paints DIR/icons/<size>x<size>.png and DIR/icons/scalable.svg
//   make_images --compare FILE... checks that each FILE is a PNG of an icon size showing the
//                                 icon as this drawing paints it (within PictureDifference's
//                                 tolerance for other painters); exit status 1 if one is not
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "shell/picture_compare.h"
#include "shell/pictures.h"

namespace {

bool WriteText(const QString& path, const QString& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(text.toUtf8()) == text.toUtf8().size();
}

bool Paint(const QDir& root) {
  const QDir icons(root.filePath(QStringLiteral("icons")));
  bool ok = root.mkpath(QStringLiteral("icons")) &&
            WriteText(icons.filePath(QStringLiteral("scalable.svg")), IconSvg());
  for (int size : kIconSizes) {
    ok = ok && IconImage(size).save(icons.filePath(QStringLiteral("%1x%1.png").arg(size)));
  }
  if (!ok) std::fprintf(stderr, "could not write the pictures\n");
  return ok;
}

bool IsIconSize(const QSize& size) {
  return size.width() == size.height() && std::find(std::begin(kIconSizes), std::end(kIconSizes),
                                                    size.width()) != std::end(kIconSizes);
}

bool ShowsTheIcon(const char* path) {
  QImageReader reader(QString::fromLocal8Bit(path), "png");
  const QImage picture = reader.read();
  if (picture.isNull()) {
    std::fprintf(stderr, "%s: not a PNG picture: %s\n", path, qPrintable(reader.errorString()));
    return false;
  }
  if (!IsIconSize(picture.size())) {
    std::fprintf(stderr, "%s: %d x %d is not an icon size\n", path, picture.width(),
                 picture.height());
    return false;
  }
  const int difference = PictureDifference(picture, IconImage(picture.width()));
  if (difference < 0 || difference > kPictureTolerance) {
    std::fprintf(stderr, "%s: not the icon as painted (difference %d)\n", path, difference);
    return false;
  }
  std::printf("%s: the %d px icon (difference %d)\n", path, picture.width(), difference);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc > 1 && std::string_view(argv[1]) == "--compare") {
    bool ok = argc > 2;
    for (int i = 2; i < argc; ++i) ok = ShowsTheIcon(argv[i]) && ok;
    return ok ? 0 : 1;
  }
  return Paint(QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."))) ? 0 : 1;
}
