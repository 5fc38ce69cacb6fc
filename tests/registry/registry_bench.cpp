// Registry timings for ./dev bench: the import of a generated 100,000-line
// script by the registry editor (process start to the CREG hive written,
// flushed and renamed into place), and the load of a 10 MB CREG hive, each
// beside its yardsticks: a plain Python reader of the same script; libcreg's
// C library walking the same hive's keys and values, and cat of the file.
// Runs take turns, medians are printed with the goals.
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

#include "libcreg_walk.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/demo.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/key_tree.h"
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

// A CREG hive of about `bytes` bytes: vendors' products, each with strings,
// a number and binary data, as System.dat holds them.
std::string bigHive(size_t bytes, size_t* keys, size_t* values) {
  platform::hive::Hive h("HKEY_LOCAL_MACHINE");
  auto& sw = h.top().addChild("SOFTWARE");
  *keys = 1;
  *values = 0;
  size_t approx = 0;
  for (unsigned k = 0; approx < bytes; ++k) {
    if (k % 50 == 0) ++*keys;
    auto& key = sw.addChild("Vendor " + std::to_string(k / 50)).addChild("Product " + std::to_string(k));
    std::string name = "Product " + std::to_string(k) + " by Vendor " + std::to_string(k / 50);
    key.setValue("DisplayName", 1, name + '\0');
    key.setValue("InstallLocation", 1, "C:\\Program Files\\Vendor\\Product " + std::to_string(k) + '\0');
    key.setValue("Version", 4, std::string("\x01\x02\x03\x04", 4));
    key.setValue("Data", 3, std::string(24, static_cast<char>(k)));
    ++*keys;
    *values += 4;
    approx += 250;
  }
  return platform::hive::cregBytes(h.top());
}

void countTree(const platform::hive::Key& top, size_t& keys, size_t& values) {
  std::vector<const platform::hive::Key*> stack{&top};
  while (!stack.empty()) {
    const auto* k = stack.back();
    stack.pop_back();
    values += k->valueCount();
    for (size_t i = 0; i < k->childCount(); ++i) {
      ++keys;
      stack.push_back(&k->child(i));
    }
  }
}

void goal(const char* what, double ratio, const char* cmp, double limit, bool ok) {
  std::printf("  %-48s %8.2f  (goal %s %.1f) %s\n", what, ratio, cmp, limit, ok ? "ok" : "MISSED");
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
  for (int i = 0; i < 7; ++i) {
    std::ofstream(tm.hive("System.dat"), std::ios::binary) << demoSystem;  // each import starts alike
    imports.push_back(run({REGEDIT_EXE, "/s", "C:\\bench.reg"}, machine));
    std::string printed;
    pyWall.push_back(run({"python3", (tm.dir() / "reader.py").string(), scriptPath.string()}, machine, &printed));
    pyRead.push_back(std::stod(printed));
  }
  const double imp = median(imports), py = median(pyRead), pyw = median(pyWall);
  std::printf("registry import of a %zu-line script (%.1f MB) into System.dat, medians of 7 alternating runs:\n",
              kLines, text.size() / 1e6);
  std::printf("  regedit /s (process start .. CREG hive flushed, renamed)  %8.1f ms  (hive %.1f MB)\n", imp,
              regtest::slurp(tm.hive("System.dat")).size() / 1e6);
  std::printf("  python3 regex reader, reading only                        %8.1f ms  (%.1f ms with start-up)\n",
              py, pyw);
  goal("python read / import (times as fast)", py / imp, ">=", 5, py / imp >= 5);

  // --- hive load ------------------------------------------------------
  size_t wantKeys = 0, wantValues = 0;
  const std::string hive = bigHive(10u << 20, &wantKeys, &wantValues);
  std::ofstream(tm.hive("System.dat"), std::ios::binary) << hive;
  const std::string hostHive = tm.hive("System.dat").string();
  std::vector<double> cats, loads, walks;
  for (int i = 0; i < 9; ++i) {
    cats.push_back(run({"cat", hostHive}, machine));
    {
      platform::hive::HiveStore store(tm.machine());
      auto t0 = Clock::now();
      auto& h = store.read(platform::hive::kSystemHive);
      loads.push_back(msSince(t0));
      size_t keys = 0, values = 0;
      countTree(h.top(), keys, values);
      if (keys != wantKeys || values != wantValues) {
        std::fprintf(stderr, "the hive load found %zu keys and %zu values, not %zu and %zu\n", keys, values,
                     wantKeys, wantValues);
        return 1;
      }
    }
    creg_walk_counts c{};
    auto t0 = Clock::now();
    if (creg_walk(hostHive.c_str(), &c) != 0 || c.keys != wantKeys || c.values != wantValues) {
      std::fprintf(stderr, "libcreg walked %zu keys and %zu values, not %zu and %zu\n", c.keys, c.values,
                   wantKeys, wantValues);
      return 1;
    }
    walks.push_back(msSince(t0));
  }
  const double cat = median(cats), load = median(loads), walk = median(walks);
  std::printf("load of a %.1f MB CREG System.dat (%zu keys, %zu values), medians of 9 alternating runs:\n",
              hive.size() / 1e6, wantKeys, wantValues);
  std::printf("  hive load (lock, read, parse, build the tree)             %8.1f ms  (%.0f MB/s)\n", load,
              hive.size() / 1e6 / (load / 1e3));
  std::printf("  libcreg C library walking every key and value              %8.1f ms\n", walk);
  std::printf("  cat FILE >/dev/null (process)                              %8.1f ms\n", cat);
  goal("libcreg walk / hive load (times as fast)", walk / load, ">=", 10, walk / load >= 10);
  goal("hive load / cat", load / cat, "<=", 5, load / cat <= 5);
  return 0;
}
