#pragma once
// Our own artwork, drawn with QPainter in the style of a Windows 98
// utility: banners, screen icons, toolbar pictures, menu and list icons,
// the intro and tip pictures, the maker's logo button and the archive icon.
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

namespace art {

// Every picture by name: banner_<screen>, icon_<screen>, tlb_<screen>
// (screens: backup winbackup restore rescue reinstall spyware undo),
// vantrel, intro, tips, sysarchive, menu1..menu8, list1, list2, and the
// menu's check box check_on, check_off.
QStringList names();
// The picture at its own size, or at size when given. A null image for an
// unknown name.
QImage draw(const QString& name, QSize size = QSize());

}  // namespace art
