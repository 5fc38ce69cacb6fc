// Figures of the platform layer on a real temporary machine: naming a big
// folder, path lookups, Dir, atomic writes and the launcher's round trip.
// Run by ./dev bench; not a test.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/test_machine.h"
#include "platform/files.h"
#include "platform/launcher.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void report(const char* what, double value, const char* unit) { std::printf("%-58s %10.3f %s\n", what, value, unit); }

double perCall(int n, const std::function<void()>& f) {
  auto t = Clock::now();
  for (int i = 0; i < n; ++i) f();
  return msSince(t) * 1000.0 / n;
}

}  // namespace

int main() {
  constexpr int kEntries = 2000;
  testsupport::TestMachine tm;
  Machine m = tm.open();
  fs::create_directories(tm.c() / "Program Files/Brakvel 9x/archive");
  for (int i = 0; i < kEntries; ++i) {
    std::ofstream(tm.c() / "Program Files/Brakvel 9x/archive" / ("Backup number " + std::to_string(i) + ".kvt")) << i;
  }
  const std::string archive = "C:\\Program Files\\Brakvel 9x\\archive";

  auto t = Clock::now();
  std::string s = m.shortPath(archive + "\\Backup number 1999.kvt");
  report("naming a folder of 2000 host-made entries (first ShortPath)", msSince(t), "ms");
  if (s.empty()) return 1;
  report("ShortPath of a named 4-level path", perCall(2000, [&] { m.shortPath(archive + "\\Backup number 7.kvt"); }), "us");
  report("toHost, exact long names", perCall(2000, [&] { m.toHost(archive + "\\Backup number 7.kvt"); }), "us");
  report("toHost, other case, 2000-entry folder", perCall(200, [&] { m.toHost(archive + "\\BACKUP NUMBER 7.KVT"); }), "us");
  std::string shortName = winBaseName(s);
  report("toHost, short component, 2000-entry folder", perCall(200, [&] { m.toHost(archive + "\\" + shortName); }), "us");
  report("Dir *.kvt over 2000 entries", perCall(20, [&] { DirEnum().first(m, archive + "\\*.kvt"); }) / 1000.0, "ms");

  std::string mib(1 << 20, 'x');
  report("writeFileAtomic of 1 MiB (with fsync)", perCall(10, [&] { writeFileAtomic(m, "C:\\big.bin", mib); }) / 1000.0, "ms");

  fs::create_directories(tm.c() / "UTIL");
  {
    std::ofstream(tm.c() / "UTIL/TRUE.EXE") << "#!/bin/sh\nexit 0\n";
  }
  fs::permissions(tm.c() / "UTIL/TRUE.EXE", fs::perms::owner_all);
  WindowTable windows;
  Launcher launcher(m, windows);
  report("launcher: start to finished window, /bin/sh stand-in", perCall(20, [&] {
           JobId job = launcher.start("C:\\UTIL\\TRUE.EXE", WindowStyle::Hide);
           launcher.wait(job, 10000);
         }) / 1000.0, "ms");
  return 0;
}
