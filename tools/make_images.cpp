// Paints the program's icon at every size a desktop asks for and as a scalable SVG into
// resources/icons/, for the desktop entry. (The splash and the logo are painted by the program
// itself, for the screen it shows them on.)
// Run it again after changing the drawing: build/default/tools/make_images resources
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

#include "shell/pictures.h"

namespace {

bool WriteText(const QString& path, const QString& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(text.toUtf8()) == text.toUtf8().size();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  const QDir icons(root.filePath(QStringLiteral("icons")));
  bool ok = root.mkpath(QStringLiteral("icons")) &&
            WriteText(icons.filePath(QStringLiteral("scalable.svg")), IconSvg());
  for (int size : kIconSizes) {
    ok = ok && IconImage(size).save(icons.filePath(QStringLiteral("%1x%1.png").arg(size)));
  }
  if (!ok) std::fprintf(stderr, "could not write the pictures\n");
  return ok ? 0 : 1;
}
