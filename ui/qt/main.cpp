// brakvel9x: the program with its windows, on the machine named by
// BRAKVEL9X_MACHINE (or the demo machine).
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include "app/frmGlavni.h"
#include "app/program.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/net/http.h"
#include "platform/net/internet.h"
#include "platform/registry/registry.h"
#include "platform/tasks.h"
#include "ui/common/ProgramLocation.h"
#include "ui/qt/Look.h"
#include "ui/qt/QtDesktop.h"
#include "ui/qt/QtLoop.h"

namespace {

int termPipe[2] = {-1, -1};

void onTerm(int) {
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(termPipe[1], &c, 1);
}

bool haveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  if (!haveDisplay()) {
    std::fprintf(stderr,
                 "brakvel9x: no display to show the windows on; run it with a virtual display, "
                 "e.g. xvfb-run -a %s\n",
                 argv[0]);
    return 1;
  }
  std::optional<platform::Machine> machine;
  try {
    machine.emplace(platform::Machine::open(platform::Machine::defaultDir()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brakvel9x: %s (make one with: brakvel9x-machine init DIR)\n", e.what());
    return 1;
  }
  frontend::ProgramLocation where = frontend::locateProgram(*machine, argv[0]);

  QApplication qapp(argc, argv);
  qtui::setUpLook(qapp);
  qapp.setQuitOnLastWindowClosed(false);  // the forms decide when the program ends

  platform::reg::Registry registry(*machine);
  platform::WindowTable windows;
  platform::Launcher launcher(*machine, windows);
  qtui::QtLoop loop;
  qtui::QtDesktop desktop;
  platform::TaskRegistration task(*machine, app::kAppTitle);
  // Help opens in the machine's help viewer, as WinHelp would.
  desktop.helpViewer = [&](const std::string& file, int context) {
    std::string viewer = machine->env("WinDir").value_or("C:\\WINDOWS") + "\\WINHLP32.EXE";
    std::string cmd = "\"" + viewer + "\" " + (context > 0 ? "-n " + std::to_string(context) + " " : "") +
                      "\"" + file + "\"";
    try {
      launcher.start(cmd, platform::WindowStyle::NormalFocus);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "brakvel9x: the help viewer could not be started: %s\n", e.what());
    }
  };

  int status = 0;
  {
    platform::net::HostInternet internet(*machine);
    platform::net::HostHttp http;
    app::Program program(app::Context{*machine, registry, windows, launcher, loop, desktop, where.folder,
                                      where.exeName, &internet, &http});
    // A close request from the machine (a restart) closes the main window
    // as the user would, and with it every other window.
    std::optional<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, termPipe) == 0) {
      notifier.emplace(termPipe[0], QSocketNotifier::Read);
      QObject::connect(&*notifier, &QSocketNotifier::activated, &qapp, [&] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(termPipe[0], &c, 1);
        if (app::Form* main = program.loadedForm("frmGlavni")) program.unload(*main, app::vbAppWindows);
        else program.closeAll();
      });
      std::signal(SIGTERM, onTerm);
    }
    program.start();
    if (!program.ended() && !desktop.ended()) status = qapp.exec();
    desktop.dropViews();
  }
  return status;
}
