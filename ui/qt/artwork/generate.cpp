// brakvel9x-artwork DIR: writes every picture as DIR/NAME.png and the
// archive file type's icon as DIR/sysarchive.ico (32 and 16 pixels).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <cstdio>

#include "ui/qt/artwork/Artwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: brakvel9x-artwork DIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(".")) {
    std::fprintf(stderr, "brakvel9x-artwork: cannot create %s\n", argv[1]);
    return 1;
  }
  for (const QString& name : art::names()) {
    QString path = dir.filePath(name + ".png");
    if (!art::draw(name).save(path, "PNG")) {
      std::fprintf(stderr, "brakvel9x-artwork: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  // The icon file: written beside, then renamed over the old one.
  QString ico = dir.filePath("sysarchive.ico");
  QString tmp = ico + ".tmp";
  {
    QImageWriter writer(tmp, "ico");
    QImage big = art::draw("sysarchive", QSize(32, 32));
    if (!writer.write(big)) {
      std::fprintf(stderr, "brakvel9x-artwork: cannot write %s: %s\n", qPrintable(tmp),
                   qPrintable(writer.errorString()));
      return 1;
    }
  }
  QFile::remove(ico);
  if (!QFile::rename(tmp, ico)) {
    std::fprintf(stderr, "brakvel9x-artwork: cannot rename %s\n", qPrintable(tmp));
    return 1;
  }
  return 0;
}
