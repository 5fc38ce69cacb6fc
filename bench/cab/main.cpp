// cab_bench: our cabinet maker and extractor against gcab and cabextract.
//   cab_bench [BIN_DIR [WORK_DIR [BIG_MIB]]]
// Makes two 64 MiB system-file sets, registry text and CREG hives, and
// compares the makers on both and the extractors on the first.
// BIN_DIR holds makecab and pux (default: beside this program); WORK_DIR
// takes the data (default $TMPDIR or /tmp); BIG_MIB is the size of the
// peak-memory input (default $CAB_BENCH_BIG_MIB or 1024). Prints median
// and best times of rounds in which the tools take turns, sizes and peak
// memory; goals are judged on the medians. CAB_BENCH_KEEP=1 leaves the
// work folder in place.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/generated_sets.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  double seconds = 0;
  double cpu = 0;  // user + system seconds
  long maxRssKiB = 0;
  int status = -1;
};

// Runs argv in dir with extra environment; wall time and peak memory.
Result runIn(const fs::path& dir, const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  std::fflush(stdout);  // or the child's copy of the buffer comes out too
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    for (auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    ::unsetenv("BRAKVEL9X_MACHINE");
    if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  int st = 0;
  struct rusage ru {};
  ::wait4(pid, &st, 0, &ru);
  Result r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKiB = ru.ru_maxrss;
  r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The runs of one tool in one comparison; an odd number of them.
struct Runs {
  std::vector<Result> results;
  double median(double Result::*field = &Result::seconds) const {
    std::vector<double> v;
    for (auto& r : results) v.push_back(r.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  const Result& best() const {
    return *std::min_element(results.begin(), results.end(),
                             [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
  }
};

// The settings of the program's own kvt.ddf, with its members.
void directive(const fs::path& file, const fs::path& set, const std::vector<std::string>& names,
               const std::string& cabName) {
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f << ".OPTION EXPLICIT\r\n.Set Cabinet=on\r\n.set Compress=on\r\n.Set MaxDiskSize=CDROM\r\n"
    << ".set ReservePerCabinetSize=6144\r\n"
    << ".Set DiskDirectoryTemplate=" << file.parent_path().string() << "\r\n"
    << ".Set CompressionType=MSZip\r\n.Set CompressionLevel=7\r\n.Set CompressionMemory=21\r\n"
    << ".Set CabinetNameTemplate=" << cabName << "\r\n";
  for (auto& n : names) f << "\"" << (set / n).string() << "\"\r\n";
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::istreambuf_iterator<char> xe, ye;
  return std::equal(std::istreambuf_iterator<char>(x), xe, std::istreambuf_iterator<char>(y), ye);
}

double mib(uintmax_t b) { return static_cast<double>(b) / (1024.0 * 1024.0); }

int fail(const std::string& what) {
  std::fprintf(stderr, "cab_bench: %s\n", what.c_str());
  return 1;
}

// Makecab with the program's directive against gcab -c -z on the files of
// `dir`, turn about, each first in every other round, so that a slow spell
// of the machine falls on both; plus Makecab on one core, whose cabinet must
// be the same bytes. The goal is judged on the medians. Leaves TAG.cab in
// `work`; false when a tool failed or the bytes differ.
bool compareMaking(const fs::path& work, const std::string& makecab, const char* what, const fs::path& dir,
                   const std::vector<std::string>& names, const std::string& tag) {
  constexpr int kMakeRounds = 7;
  uintmax_t total = 0;
  for (auto& n : names) total += fs::file_size(dir / n);
  directive(work / (tag + ".ddf"), dir, names, tag + ".cab");
  directive(work / (tag + "-one.ddf"), dir, names, tag + "-one.cab");
  fs::path gcabFile = work / (tag + "-gcab.cab");
  std::vector<std::string> gcab = {"gcab", "-c", "-z", gcabFile.string()};
  gcab.insert(gcab.end(), names.begin(), names.end());
  Runs ours, one, theirs;
  for (int round = 0; round < kMakeRounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (round % 2 == 0)) {
        ours.results.push_back(runIn(work, {makecab, "/f", (work / (tag + ".ddf")).string()}));
        if (ours.results.back().status != 0) {
          fail("makecab failed");
          return false;
        }
      } else {
        fs::remove(gcabFile);
        theirs.results.push_back(runIn(dir, gcab));
        if (theirs.results.back().status != 0) {
          fail("gcab -c -z failed (is gcab installed?)");
          return false;
        }
      }
    }
    one.results.push_back(
        runIn(work, {makecab, "/f", (work / (tag + "-one.ddf")).string()}, {"BRAKVEL9X_CAB_THREADS=1"}));
    if (one.results.back().status != 0) {
      fail("makecab failed on one core");
      return false;
    }
  }
  uintmax_t oursSize = fs::file_size(work / (tag + ".cab"));
  uintmax_t theirSize = fs::file_size(gcabFile);
  bool identical = sameFile(work / (tag + ".cab"), work / (tag + "-one.cab"));
  fs::remove(gcabFile);
  fs::remove(work / (tag + "-one.cab"));

  std::printf("making %s (%.1f MiB), the program's directive (MSZIP, level 7, reserve 6144), medians of %d rounds:\n",
              what, mib(total), kMakeRounds);
  auto line = [&](const char* who, const Runs& r, const std::string& tail) {
    double wall = r.median(), cpu = r.median(&Result::cpu);
    std::printf("%-18s %7.3f s (cpu %6.3f s, %.2f cores)  %7.1f MiB/s  best %.3f s  %s\n", who, wall, cpu,
                cpu / wall, mib(total) / wall, r.best().seconds, tail.c_str());
  };
  line("maker (all cores)", ours, std::to_string(oursSize) + " bytes");
  line("maker (one core)", one, std::string("byte-identical: ") + (identical ? "yes" : "NO"));
  line("gcab -c -z", theirs, std::to_string(theirSize) + " bytes");
  std::printf("  throughput maker/gcab %.2fx from the medians (goal >= 1.7x; best runs %.2fx), "
              "size maker/gcab %.3f (goal <= 1)\n\n",
              theirs.median() / ours.median(), theirs.best().seconds / ours.best().seconds,
              static_cast<double>(oursSize) / static_cast<double>(theirSize));
  if (!identical) fail("the cabinet made on one core differs from the one made on all");
  return identical;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path bin = argc > 1 ? fs::absolute(argv[1]) : fs::read_symlink("/proc/self/exe").parent_path();
  fs::path work = fs::absolute(argc > 2 ? argv[2] : fs::temp_directory_path()) / ("cab-bench." + std::to_string(::getpid()));
  const char* bigEnv = std::getenv("CAB_BENCH_BIG_MIB");
  size_t bigMiB = argc > 3 ? std::stoul(argv[3]) : bigEnv ? std::stoul(bigEnv) : 1024;
  std::string makecab = (bin / "makecab").string(), pux = (bin / "pux").string();
  fs::create_directories(work / "set");
  struct Cleanup {
    fs::path p;
    ~Cleanup() {
      if (std::getenv("CAB_BENCH_KEEP")) return;
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } cleanup{work};

  std::printf("cab_bench: %u cores, work folder %s\n\n", std::thread::hardware_concurrency(), work.c_str());
  // 64 MiB shaped like a system-file set, twice: registry text, on which
  // the goal was first set, and CREG hives, as the program archives them.
  const std::vector<std::pair<std::string, size_t>> set = {{"System.dat", (36u << 20) - 12288},
                                                           {"User.dat", 14u << 20}, {"Classes.dat", 14u << 20},
                                                           {"System.ini", 4096}, {"Win.ini", 8192}};
  std::vector<std::string> names;
  uintmax_t total = 0;
  unsigned seed = 1;
  fs::create_directories(work / "hives");
  for (auto& [n, size] : set) {
    generated::writeRegistryText(work / "set" / n, size, seed += 100);
    if (n.ends_with(".dat"))
      std::ofstream(work / "hives" / n, std::ios::binary) << generated::cregHive(size, seed);
    else
      fs::copy_file(work / "set" / n, work / "hives" / n);
    names.push_back(n);
    total += size;
  }
  if (!compareMaking(work, makecab, "registry text", work / "set", names, "ours") ||
      !compareMaking(work, makecab, "CREG hives", work / "hives", names, "hives"))
    return 1;
  fs::remove_all(work / "hives");
  fs::remove(work / "hives.cab");

  // Turn about, so that neither meets the other's write-back alone. Into
  // empty folders, as a restore extracts; then over the files of the round
  // before, where pux, whose files are already on the disk, has their blocks
  // to free, and cabextract usually only pages that never reached it.
  constexpr int kRounds = 9;
  auto compare = [&](bool fresh) -> bool {
    Runs pxs, cxs;
    fs::create_directories(work / "x1");
    fs::create_directories(work / "x2");
    for (int round = 0; round < kRounds; ++round) {
      fs::path x1 = work / "x1", x2 = work / "x2";
      if (fresh) {
        x1 /= std::to_string(round);
        x2 /= std::to_string(round);
        fs::create_directories(x1);
        fs::create_directories(x2);
      }
      pxs.results.push_back(runIn(work, {pux, (work / "ours.cab").string(), "/Y", "/E", "/L", x1.string()}));
      cxs.results.push_back(runIn(work, {"cabextract", "-q", "-d", x2.string(), (work / "ours.cab").string()}));
      std::string wrong;
      if (pxs.results.back().status != 0) wrong = "pux failed";
      if (cxs.results.back().status != 0) wrong = "cabextract failed (is it installed?)";
      for (auto& n : names)
        if (wrong.empty() && !sameFile(x1 / n, work / "set" / n)) wrong = "pux gave back different bytes for " + n;
      if (!wrong.empty()) {
        fail(wrong);
        return false;
      }
    }
    std::printf("%s medians of %d rounds:\n", fresh ? "into empty folders," : "over the files of the round before,",
                kRounds);
    auto line = [&](const char* who, const Runs& r) {
      double wall = r.median();
      std::printf("%-18s %7.3f s (cpu %6.3f s)  %7.1f MiB/s  best %.3f s\n", who, wall, r.median(&Result::cpu),
                  mib(total) / wall, r.best().seconds);
    };
    line("pux", pxs);
    line("cabextract", cxs);
    std::printf("  time pux/cabextract %.2f from the medians (goal <= 1; best runs %.2f)\n\n",
                pxs.median() / cxs.median(), pxs.best().seconds / cxs.best().seconds);
    fs::remove_all(work / "x1");
    fs::remove_all(work / "x2");
    return true;
  };
  // pux makes every file durable (fdatasync) before renaming it into place;
  // cabextract leaves its output to the page cache.
  if (!compare(true) || !compare(false)) return 1;

  // Peak memory on a large input.
  fs::create_directories(work / "big");
  generated::writeRegistryText(work / "big" / "System.dat", bigMiB << 20, 7777);
  directive(work / "big.ddf", work / "big", {"System.dat"}, "big.cab");
  // A child's peak counts what it had before its exec, a copy of this
  // process: give the heap back first so that the figure is the tool's.
  ::malloc_trim(0);
  Result bm = runIn(work, {makecab, "/f", (work / "big.ddf").string()});
  if (bm.status != 0) return fail("makecab failed on the large input");
  fs::remove(work / "big" / "System.dat");
  fs::create_directories(work / "bigx");
  Result bp = runIn(work, {pux, (work / "big.cab").string(), "/Y", "/E", "/L", (work / "bigx").string()});
  if (bp.status != 0) return fail("pux failed on the large input");
  std::printf("%zu MiB input: makecab %.2f s, peak %.1f MiB; pux %.2f s, peak %.1f MiB (goal <= 32 MiB)\n", bigMiB,
              bm.seconds, bm.maxRssKiB / 1024.0, bp.seconds, bp.maxRssKiB / 1024.0);
  return 0;
}
