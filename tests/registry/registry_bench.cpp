// Registry timings for ./dev bench: the import of a generated 100,000-line
// script by the registry editor (process start to atomic hive write), and
// the load of a 10 MB hive, each beside a yardstick: a plain Python reader
// of the same script, and cat of the same hive file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/hive.h"
#include "platform/hive_store.h"
#include "platform/registry_demo.h"
#include "support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs argv with BRAKVEL9X_MACHINE set; returns wall time in ms, and what it printed.
double run(const std::vector<std::string>& args, const std::string& machine, std::string* out = nullptr) {
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.push_back("BRAKVEL9X_MACHINE=" + machine);
  std::vector<char*> envp, argv;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> a = args;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  // Output that is not wanted goes to /dev/null, as "cat FILE >/dev/null".
  int p[2];
  if (pipe(p) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (out)
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
  else
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&fa, p[0]);
  auto t0 = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(1);
  }
  close(p[1]);
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(p[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  double ms = msSince(t0);
  posix_spawn_file_actions_destroy(&fa);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  if (out) *out = got;
  return ms;
}

std::string hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*x", width, v);
  return buf;
}

// A script of exactly `lines` lines: keys of a software vendor each with
// strings, numbers, binary data and an expandable path.
std::string script(size_t lines) {
  std::string s = "REGEDIT4\r\n\r\n";
  size_t n = 2;
  for (unsigned k = 0; n < lines; ++k) {
    s += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench Vendor\\Product " + std::to_string(k / 100) + "\\Component " +
         std::to_string(k) + "]\r\n";
    ++n;
    const std::string v[] = {
        "\"DisplayName\"=\"Bench component " + std::to_string(k) + " \\\"quoted\\\"\"",
        "\"InstallDir\"=\"C:\\\\Program Files\\\\Bench\\\\" + std::to_string(k) + "\"",
        "\"Version\"=dword:" + hex(k * 7, 8),
        "\"Flags\"=hex:" + hex(k & 0xff, 2) + ",00,10,00,ff,ee,dd,cc,01,02,03,04,05,06,07,08",
        "\"Path\"=hex(2):25,57,69,6e,44,69,72,25,5c," + hex(k & 0x7f, 2) + ",00",
        "\"Publisher\"=\"Bench Software Ltd.\"",
        "@=\"component\"",
    };
    for (const auto& line : v) {
      if (n >= lines) break;
      s += line + "\r\n";
      ++n;
    }
  }
  return s;
}

const char* kPythonReader = R"py(import re, sys, time
t = time.perf_counter()
key_re = re.compile(r'^\[(-?)([^\]]*)\]\s*$')
val_re = re.compile(r'^("(?:[^"\\]|\\.)*"|@)=(.*)$')
root = {}
cur = None
with open(sys.argv[1], encoding='latin-1', newline='') as f:
    for line in f:
        line = line.rstrip('\r\n')
        m = key_re.match(line)
        if m:
            cur = root
            for part in m.group(2).split('\\'):
                cur = cur.setdefault(part, {})
            continue
        m = val_re.match(line)
        if m and cur is not None:
            cur[m.group(1)] = m.group(2)
print('%.3f' % ((time.perf_counter() - t) * 1000))
)py";

// A hive of about `bytes` bytes of text.
std::string bigHive(size_t bytes) {
  platform::hive::Hive h("HKEY_LOCAL_MACHINE");
  auto& sw = h.top().addChild("SOFTWARE");
  size_t approx = 0;
  for (unsigned k = 0; approx < bytes; ++k) {
    auto& key = sw.addChild("Vendor " + std::to_string(k / 50)).addChild("Product " + std::to_string(k));
    std::string name = "Product " + std::to_string(k) + " by Vendor " + std::to_string(k / 50);
    key.setValue("DisplayName", 1, name + '\0');
    key.setValue("InstallLocation", 1, "C:\\Program Files\\Vendor\\Product " + std::to_string(k) + '\0');
    key.setValue("Version", 4, std::string("\x01\x02\x03\x04", 4));
    key.setValue("Data", 3, std::string(24, static_cast<char>(k)));
    approx += 290;
  }
  return platform::hive::hiveText(h.top());
}

}  // namespace

int main() {
  regtest::TempMachine tm;
  const std::string machine = tm.dir().string();
  platform::writeDemoRegistry(tm.machine(), false);
  const std::string demoSystem = regtest::slurp(tm.hive("System.dat"));

  // --- import ---------------------------------------------------------
  const size_t kLines = 100000;
  const std::string text = script(kLines);
  const auto scriptPath = tm.put("bench.reg", text);
  std::ofstream(tm.dir() / "reader.py") << kPythonReader;

  std::vector<double> imports, pyRead, pyWall;
  for (int i = 0; i < 5; ++i) {
    std::ofstream(tm.hive("System.dat"), std::ios::binary) << demoSystem;  // each import starts alike
    imports.push_back(run({REGEDIT_EXE, "/s", "C:\\bench.reg"}, machine));
    std::string printed;
    pyWall.push_back(run({"python3", (tm.dir() / "reader.py").string(), scriptPath.string()}, machine, &printed));
    pyRead.push_back(std::stod(printed));
  }
  const double imp = median(imports), py = median(pyRead), pyw = median(pyWall);
  std::printf("registry import of a %zu-line script (%.1f MB), median of 5:\n", kLines, text.size() / 1e6);
  std::printf("  regedit /s (process start .. atomic hive write)  %8.1f ms\n", imp);
  std::printf("  python3 regex reader, reading only               %8.1f ms  (%.1f ms with start-up)\n", py, pyw);
  std::printf("  ratio import / python read                       %8.3f  (goal <= 0.100) %s\n", imp / py,
              imp / py <= 0.1 ? "ok" : "MISSED");

  // --- hive load ------------------------------------------------------
  const std::string hive = bigHive(10u << 20);
  {
    std::ofstream(tm.hive("System.dat"), std::ios::binary) << hive;
  }
  std::vector<double> cats, loads;
  for (int i = 0; i < 7; ++i) {
    cats.push_back(run({"cat", tm.hive("System.dat").string()}, machine));
    platform::hive::HiveStore store(tm.machine());
    auto t0 = Clock::now();
    auto& h = store.read(platform::hive::kSystemHive);
    loads.push_back(msSince(t0));
    if (h.top().childCount() != 1) return 1;
  }
  const double cat = median(cats), load = median(loads);
  std::printf("hive load of a %.1f MB System.dat, median of 7:\n", hive.size() / 1e6);
  std::printf("  cat FILE >/dev/null (process)                    %8.1f ms\n", cat);
  std::printf("  hive load (lock, map, parse, build the tree)     %8.1f ms  (%.0f MB/s)\n", load,
              hive.size() / 1e6 / (load / 1e3));
  std::printf("  ratio load / cat                                 %8.2f  (goal <= 10) %s\n", load / cat,
              load / cat <= 10 ? "ok" : "MISSED");
  return 0;
}
