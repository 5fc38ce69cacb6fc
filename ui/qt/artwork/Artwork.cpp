#include "ui/qt/artwork/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace art {

namespace {

// A Windows 98 utility palette: flat colours, black outlines, a little
// gradient on the banners only.
constexpr double kPi = 3.14159265358979323846;
const QColor kOutline(0, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kYellow(255, 255, 0);
const QColor kCream(255, 255, 204);
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kBrown(128, 64, 64);
const QColor kBeige(222, 198, 173);
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlue(0, 0, 255);

QPen outline(qreal w = 1.0) { return QPen(kOutline, w, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin); }

// All pictograms are drawn on a 32 x 32 grid and scaled.

void cabinet(QPainter& p, QColor body = kBeige) {
  // The archive: a cardboard box with a band, as cabinet files were drawn.
  p.setPen(outline());
  p.setBrush(body);
  p.drawRect(QRectF(5.5, 12.5, 21, 15));
  p.setBrush(body.lighter(115));
  QPolygonF lid;
  lid << QPointF(5.5, 12.5) << QPointF(10.5, 6.5) << QPointF(31.5 - 5, 6.5) << QPointF(26.5, 12.5);
  p.drawPolygon(lid);
  p.setBrush(kMaroon);
  p.drawRect(QRectF(14.5, 12.5, 3, 15));
  p.setPen(QPen(kBrown, 1));
  p.drawLine(QPointF(8, 24.5), QPointF(12, 24.5));
}

void arrow(QPainter& p, QPointF from, QPointF to, QColor fill) {
  QLineF line(from, to);
  QLineF unit = line.unitVector();
  QPointF d(unit.dx(), unit.dy());
  QPointF n(-d.y(), d.x());
  const qreal shaft = 2.0, head = 5.0, headLen = 6.0;
  QPointF base = to - d * headLen;
  QPolygonF poly;
  poly << from + n * shaft << base + n * shaft << base + n * head << to << base - n * head
       << base - n * shaft << from - n * shaft;
  p.setPen(outline());
  p.setBrush(fill);
  p.drawPolygon(poly);
}

void window(QPainter& p, QRectF r) {
  p.setPen(outline());
  p.setBrush(kWhite);
  p.drawRect(r);
  p.setBrush(kNavy);
  p.drawRect(QRectF(r.left(), r.top(), r.width(), 4));
  p.setBrush(kSilver);
  p.drawRect(QRectF(r.right() - 4, r.top() + 0.5, 3, 3));
}

void floppy(QPainter& p, QRectF r, QColor body = QColor(40, 40, 40)) {
  p.save();
  p.translate(r.topLeft());
  p.scale(r.width() / 32.0, r.height() / 32.0);
  p.setPen(outline());
  p.setBrush(body);
  QPolygonF shape;
  shape << QPointF(3.5, 3.5) << QPointF(26.5, 3.5) << QPointF(28.5, 5.5) << QPointF(28.5, 28.5)
        << QPointF(3.5, 28.5);
  p.drawPolygon(shape);
  p.setBrush(kSilver);
  p.drawRect(QRectF(9.5, 3.5, 13, 9));
  p.setBrush(body);
  p.drawRect(QRectF(17.5, 5.5, 3, 5));
  p.setBrush(kWhite);
  p.drawRect(QRectF(7.5, 16.5, 17, 12));
  p.setPen(QPen(kBlue, 1));
  p.drawLine(QPointF(9, 20.5), QPointF(23, 20.5));
  p.drawLine(QPointF(9, 23.5), QPointF(23, 23.5));
  p.restore();
}

void compactDisc(QPainter& p, QRectF r) {
  p.setPen(outline());
  QRadialGradient g(r.center(), r.width() / 2);
  g.setColorAt(0, kWhite);
  g.setColorAt(0.5, QColor(200, 220, 255));
  g.setColorAt(0.8, QColor(255, 220, 200));
  g.setColorAt(1, kSilver);
  p.setBrush(g);
  p.drawEllipse(r);
  p.setBrush(kWhite);
  qreal hole = r.width() / 6;
  p.drawEllipse(r.center(), hole, hole);
}

void shield(QPainter& p) {
  QPainterPath path;
  path.moveTo(16, 3.5);
  path.lineTo(27.5, 7.5);
  path.cubicTo(27.5, 19, 22, 25, 16, 29.5);
  path.cubicTo(10, 25, 4.5, 19, 4.5, 7.5);
  path.closeSubpath();
  p.setPen(outline());
  p.setBrush(kGreen);
  p.drawPath(path);
  p.setPen(QPen(kWhite, 2.5));
  p.drawLine(QPointF(10, 16), QPointF(14.5, 21));
  p.drawLine(QPointF(14.5, 21), QPointF(22.5, 10.5));
}

void bug(QPainter& p, QPointF c, qreal s) {
  p.setPen(QPen(kOutline, 1));
  p.setBrush(kRed);
  p.drawEllipse(c, 3.2 * s, 4.2 * s);
  for (int i = -1; i <= 1; ++i) {
    p.drawLine(c + QPointF(-3 * s, i * 2.5 * s), c + QPointF(-5.5 * s, i * 3.5 * s));
    p.drawLine(c + QPointF(3 * s, i * 2.5 * s), c + QPointF(5.5 * s, i * 3.5 * s));
  }
}

void undoArrow(QPainter& p, QColor fill = kYellow) {
  QPainterPath path;
  path.moveTo(9, 11);
  path.cubicTo(16, 4, 29, 8, 27, 20);
  path.cubicTo(26, 26, 20, 28, 15, 27);
  path.lineTo(15, 22);
  path.cubicTo(19, 23, 22, 21, 22, 18);
  path.cubicTo(22, 12, 15, 11, 12, 15);
  path.lineTo(16, 19);
  path.lineTo(4, 19);
  path.lineTo(4, 7);
  path.closeSubpath();
  p.setPen(outline());
  p.setBrush(fill);
  p.drawPath(path);
}

void book(QPainter& p) {
  p.setPen(outline());
  p.setBrush(kTeal);
  p.drawRect(QRectF(6.5, 4.5, 19, 23));
  p.setBrush(kWhite);
  p.drawRect(QRectF(9.5, 24.5, 16, 3));
  p.setBrush(kYellow);
  p.drawEllipse(QRectF(12.5, 8.5, 9, 9));
  p.setPen(QPen(kOutline, 2));
  p.drawText(QRectF(12.5, 8.5, 9, 9), Qt::AlignCenter, "?");
}

void globe(QPainter& p) {
  p.setPen(outline());
  p.setBrush(QColor(0, 128, 255));
  p.drawEllipse(QRectF(4.5, 4.5, 23, 23));
  p.setBrush(kGreen);
  QPolygonF land1, land2;
  land1 << QPointF(9, 9) << QPointF(15, 7) << QPointF(16, 13) << QPointF(12, 17) << QPointF(8, 14);
  land2 << QPointF(18, 16) << QPointF(24, 15) << QPointF(23, 22) << QPointF(18, 24);
  p.drawPolygon(land1);
  p.drawPolygon(land2);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(11.5, 4.5, 9, 23));
  p.drawLine(QPointF(4.5, 16), QPointF(27.5, 16));
}

void info(QPainter& p) {
  p.setPen(outline());
  p.setBrush(kWhite);
  p.drawEllipse(QRectF(4.5, 4.5, 23, 23));
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawEllipse(QRectF(14, 8, 4, 4));
  p.drawRect(QRectF(14, 14, 4, 10));
  p.drawRect(QRectF(12, 14, 2, 2));
  p.drawRect(QRectF(12, 22, 8, 2));
}

void star(QPainter& p, QPointF c, qreal r) {
  QPolygonF s;
  for (int i = 0; i < 10; ++i) {
    qreal a = -kPi / 2 + i * kPi / 5;
    qreal rr = (i % 2) ? r * 0.45 : r;
    s << c + QPointF(std::cos(a) * rr, std::sin(a) * rr);
  }
  p.setPen(outline());
  p.setBrush(kYellow);
  p.drawPolygon(s);
}

void bulb(QPainter& p) {
  p.setPen(outline());
  QRadialGradient g(QPointF(14, 11), 12);
  g.setColorAt(0, kWhite);
  g.setColorAt(1, kYellow);
  p.setBrush(g);
  p.drawEllipse(QRectF(7.5, 3.5, 17, 17));
  p.setBrush(kSilver);
  p.drawRect(QRectF(11.5, 19.5, 9, 7));
  p.drawLine(QPointF(11.5, 22), QPointF(20.5, 22));
  p.drawLine(QPointF(11.5, 24.5), QPointF(20.5, 24.5));
  p.setBrush(kGrey);
  p.drawRect(QRectF(13.5, 26.5, 5, 2));
}

// The pictogram of each screen, on the 32 grid.
void screenPictogram(QPainter& p, const QString& screen) {
  if (screen == "backup") {
    cabinet(p);
    arrow(p, QPointF(27, 2), QPointF(18, 11), kGreen);
  } else if (screen == "winbackup") {
    window(p, QRectF(2.5, 2.5, 17, 13));
    cabinet(p);
    arrow(p, QPointF(12, 9), QPointF(22, 9), kYellow);
  } else if (screen == "restore") {
    cabinet(p);
    arrow(p, QPointF(16, 16), QPointF(27, 3), kYellow);
  } else if (screen == "rescue") {
    floppy(p, QRectF(0, 0, 32, 32));
    p.setPen(outline());
    p.setBrush(kRed);
    p.drawRect(QRectF(20.5, 18.5, 10, 4));
    p.drawRect(QRectF(23.5, 15.5, 4, 10));
  } else if (screen == "reinstall") {
    compactDisc(p, QRectF(1.5, 1.5, 22, 22));
    floppy(p, QRectF(14, 12, 18, 18));
  } else if (screen == "spyware") {
    shield(p);
    bug(p, QPointF(26, 25), 0.8);
  } else if (screen == "undo") {
    undoArrow(p);
  } else if (screen == "sysarchive") {
    cabinet(p, QColor(222, 198, 173));
    p.setPen(QPen(kNavy, 1));
    QFont f("DejaVu Sans", 6, QFont::Bold);
    p.setFont(f);
    p.drawText(QRectF(5, 17, 9, 9), Qt::AlignCenter, "K");
  }
}

QImage blank(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QImage pictogram(const QString& screen, int w, int h) {
  QImage img = blank(w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  int side = std::min(w, h);
  p.translate((w - side) / 2.0, (h - side) / 2.0);
  p.scale(side / 32.0, side / 32.0);
  screenPictogram(p, screen);
  return img;
}

const char* bannerSubtitle(const QString& screen) {
  if (screen == "backup") return "System backup";
  if (screen == "winbackup") return "Windows backup import";
  if (screen == "restore") return "System restore";
  if (screen == "rescue") return "Rescue disk";
  if (screen == "reinstall") return "Clean reinstall disk";
  if (screen == "spyware") return "Spyware blocking";
  return "Undo changes";
}

QImage banner(const QString& screen, int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  // Light on the left, where the screen's icon and heading sit.
  QLinearGradient g(0, 0, w, 0);
  g.setColorAt(0.0, kWhite);
  g.setColorAt(0.45, kWhite);
  g.setColorAt(1.0, kBeige);
  p.fillRect(img.rect(), g);
  p.fillRect(QRectF(0, h - 3, w, 3), kBrown);
  p.fillRect(QRectF(0, h - 4, w, 1), kBeige);
  // A large, faint pictogram on the right.
  p.save();
  p.setOpacity(0.5);
  p.translate(w - 96, 0);
  p.scale(2.5, 2.5);
  screenPictogram(p, screen);
  p.restore();
  QFont title("DejaVu Serif", 20, QFont::Bold);
  title.setItalic(true);
  title.setPixelSize(26);
  p.setFont(title);
  p.setPen(kBrown);
  p.drawText(QRectF(w - 410, 8, 300, 34), Qt::AlignRight | Qt::AlignVCenter, "Brakvel 9x");
  QFont sub("DejaVu Sans", 9);
  sub.setPixelSize(12);
  p.setFont(sub);
  p.setPen(kMaroon);
  p.drawText(QRectF(w - 410, 42, 300, 20), Qt::AlignRight | Qt::AlignVCenter, bannerSubtitle(screen));
  return img;
}

QImage vantrel(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  QLinearGradient g(0, 0, w, 0);
  g.setColorAt(0, kBeige);
  g.setColorAt(1, kBrown);
  p.fillRect(img.rect(), g);
  QPainterPath swoosh;
  swoosh.moveTo(6, h - 6);
  swoosh.cubicTo(30, 0, 60, 0, 90, h / 2.0);
  p.setPen(QPen(kYellow, 2));
  p.drawPath(swoosh);
  QFont f("DejaVu Sans", 12, QFont::Bold);
  f.setItalic(true);
  f.setPixelSize(17);
  p.setFont(f);
  p.setPen(kWhite);
  p.drawText(QRectF(0, 0, w - 8, h), Qt::AlignRight | Qt::AlignVCenter, "Vantrel");
  return img;
}

QImage sidePicture(int w, int h, bool tips) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, kBrown);
  g.setColorAt(1, kBeige);
  p.fillRect(img.rect(), g);
  p.save();
  p.translate(w / 2.0 - 28, 24);
  p.scale(56 / 32.0, 56 / 32.0);
  if (tips) bulb(p);
  else cabinet(p);
  p.restore();
  p.save();
  p.translate(w / 2.0 + 6, h - 34);
  p.rotate(-90);
  QFont f("DejaVu Serif", 16, QFont::Bold);
  f.setItalic(true);
  f.setPixelSize(tips ? 20 : 24);
  p.setFont(f);
  p.setPen(kWhite);
  p.drawText(QPointF(0, 0), tips ? "Tips" : "Brakvel 9x");
  p.restore();
  return img;
}

QImage menuIcon(int index) {
  QImage img = blank(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(0.5, 0.5);
  switch (index) {
    case 1:  // make new
      cabinet(p);
      star(p, QPointF(24, 8), 7);
      break;
    case 2:  // import from Windows
      window(p, QRectF(2.5, 2.5, 17, 13));
      arrow(p, QPointF(14, 12), QPointF(28, 26), kYellow);
      break;
    case 3:  // automated system disk
      floppy(p, QRectF(0, 0, 32, 32));
      break;
    case 4:  // restore
      cabinet(p);
      arrow(p, QPointF(16, 16), QPointF(28, 2), kYellow);
      break;
    case 5:  // undo
      undoArrow(p);
      break;
    case 6:  // contents
      book(p);
      break;
    case 7:  // support online
      globe(p);
      break;
    default:  // about
      info(p);
      break;
  }
  return img;
}

QImage listIcon(int index) {
  QImage img = blank(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(0.5, 0.5);
  if (index == 1) {
    cabinet(p, kSilver);  // a Windows backup
    window(p, QRectF(1.5, 1.5, 13, 10));
  } else {
    cabinet(p);  // an archive of ours
  }
  return img;
}

// The menu's check box: dark red on the highlight colour.
QImage checkBox(bool checked) {
  QImage img = blank(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  const QColor mark(64, 0, 0);
  p.setPen(QPen(mark, 1));
  p.setBrush(kBeige);
  p.drawRect(QRectF(1.5, 1.5, 12, 12));
  if (checked) {
    p.setPen(QPen(mark, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF() << QPointF(4.5, 7.5) << QPointF(6.5, 10.5) << QPointF(11, 4.5));
  }
  return img;
}

QStringList screens() { return {"backup", "winbackup", "restore", "rescue", "reinstall", "spyware", "undo"}; }

}  // namespace

QStringList names() {
  QStringList out;
  for (const QString& s : screens()) out << "banner_" + s << "icon_" + s << "tlb_" + s;
  out << "vantrel" << "intro" << "tips" << "sysarchive";
  for (int i = 1; i <= 8; ++i) out << QString("menu%1").arg(i);
  out << "list1" << "list2" << "check_on" << "check_off";
  return out;
}

QImage draw(const QString& name, QSize size) {
  auto sized = [&](int w, int h) { return size.isValid() ? size : QSize(w, h); };
  if (name.startsWith("banner_")) {
    QString s = name.mid(7);
    QSize z = sized(626, s == "spyware" ? 93 : 81);
    return banner(s, z.width(), z.height());
  }
  if (name.startsWith("icon_") || name.startsWith("tlb_")) {
    QString s = name.mid(name.indexOf('_') + 1);
    QSize z = sized(32, 32);
    return pictogram(s, z.width(), z.height());
  }
  if (name == "sysarchive") {
    QSize z = sized(32, 32);
    return pictogram("sysarchive", z.width(), z.height());
  }
  if (name == "vantrel") {
    QSize z = sized(141, 31);
    return vantrel(z.width(), z.height());
  }
  if (name == "intro" || name == "tips") {
    QSize z = sized(name == "intro" ? 120 : 96, name == "intro" ? 312 : 250);
    return sidePicture(z.width(), z.height(), name == "tips");
  }
  if (name.startsWith("menu")) return menuIcon(name.mid(4).toInt());
  if (name.startsWith("list")) return listIcon(name.mid(4).toInt());
  if (name == "check_on" || name == "check_off") return checkBox(name == "check_on");
  return {};
}

}  // namespace art
