#include "ui/qt/Look.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

namespace qtui {

void setUpLook(QApplication& app) {
  if (QStyle* s = QStyleFactory::create("Windows")) app.setStyle(s);
  QPalette p = app.palette();
  const QColor face(192, 192, 192);
  p.setColor(QPalette::Window, face);
  p.setColor(QPalette::Button, face);
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Highlight, QColor(0, 0, 128));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::WindowText, Qt::black);
  p.setColor(QPalette::ButtonText, Qt::black);
  p.setColor(QPalette::Light, Qt::white);
  p.setColor(QPalette::Midlight, QColor(223, 223, 223));
  p.setColor(QPalette::Dark, QColor(128, 128, 128));
  p.setColor(QPalette::Shadow, Qt::black);
  app.setPalette(p);
  const QStringList sans = {"Microsoft Sans Serif", "Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"};
  QFont::insertSubstitutions("MS Sans Serif", sans);
  QFont::insertSubstitutions("Ms Sans Serif", sans);
  QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"});
  QFont f("MS Sans Serif");
  f.setPixelSize(11);
  app.setFont(f);
}

}  // namespace qtui
