// brakvel9x-screenshots DIR: the seven screens of the main window, the
// intro, the tip of the day and the about box as PNG files, rendered
// offscreen on a throwaway machine.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/frmGlavni.h"
#include "app/program.h"
#include "dialogs/TipOfDay.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmIntro.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "ui/qt/FormView.h"
#include "ui/qt/Look.h"
#include "ui/qt/QtDesktop.h"
#include "ui/qt/QtLoop.h"

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

fs::path scratchMachine() {
  std::random_device rd;
  fs::path dir = fs::temp_directory_path() / ("brakvel9x-screenshots-" + std::to_string(rd()));
  writeText(dir / "machine.ini",
            "[Machine]\r\nVersion=98\r\n[Drives]\r\nC=drive_c\r\nA=drive_a\r\n[Environment]\r\n"
            "WinDir=C:\\WINDOWS\r\nPATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n");
  writeText(dir / "drive_c/WINDOWS/System.dat", "REGEDIT4\r\n\r\n");
  writeText(dir / "drive_c/WINDOWS/User.dat", "REGEDIT4\r\n\r\n");
  fs::create_directories(dir / "drive_c/Program Files/Brakvel 9x/archive");
  return dir;
}

bool save(qtui::QtDesktop& desktop, app::Form& form, const QDir& out, const QString& name) {
  qtui::FormView* v = desktop.view(form);
  if (!v) return false;
  v->show();
  QApplication::processEvents();
  QPixmap shot = v->grab();
  QString path = out.filePath(name + ".png");
  if (!shot.save(path, "PNG")) {
    std::fprintf(stderr, "brakvel9x-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  v->hide();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: brakvel9x-screenshots DIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  qtui::setUpLook(qapp);
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(".")) {
    std::fprintf(stderr, "brakvel9x-screenshots: cannot create %s\n", argv[1]);
    return 1;
  }
  fs::path dir = scratchMachine();
  int status = 0;
  {
    platform::Machine machine = platform::Machine::open(dir);
    platform::reg::Registry registry(machine);
    platform::WindowTable windows;
    platform::Launcher launcher(machine, windows);
    qtui::QtLoop loop;
    qtui::QtDesktop desktop;
    desktop.quiet = true;
    app::Program program(app::Context{machine, registry, windows, launcher, loop, desktop,
                                      "C:\\Program Files\\Brakvel 9x", "Brakvel 9x"});
    auto& main = program.form<app::frmGlavni>();
    program.load(main);
    const char* names[] = {"screen-backup", "screen-winbackup", "screen-restore", "screen-rescuedisk",
                           "screen-reinstalldisk", "screen-spyware", "screen-undo"};
    for (int i = 0; i < app::kScreenCount; ++i) {
      main.switchTo(static_cast<app::Screen>(i));
      if (!save(desktop, main, out, names[i])) status = 1;
    }
    auto& intro = program.form<app::frmIntro>();
    program.load(intro);
    if (!save(desktop, intro, out, "intro")) status = 1;
    auto& tips = program.form<app::TipOfDay>();
    program.load(tips);
    if (!save(desktop, tips, out, "tips")) status = 1;
    auto& about = program.form<app::frmAbout>();
    program.load(about);
    if (!save(desktop, about, out, "about")) status = 1;
    desktop.dropViews();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
