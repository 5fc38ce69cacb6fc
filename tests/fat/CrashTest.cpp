// Every change of the file system stopped after each of its page writes in
// turn, as a killed writer stops (the kernel writes a page whole or not at
// all): fsck.fat finds lost clusters at worst, every file is old or new
// whole, a set is one version, and the next session's repair leaves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "platform/fat/filesystem.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace platform::fat;
using namespace testing_fat;

namespace {

struct Cut {};

// Stops writing for good after a number of page writes.
class CutDevice : public Device {
 public:
  CutDevice(MemoryDevice& inner, long pages) : inner_(inner), left_(pages) {}
  uint64_t size() const override { return inner_.size(); }
  void read(uint64_t at, void* buf, size_t n) override { inner_.read(at, buf, n); }
  void write(uint64_t at, const void* buf, size_t n) override {
    const auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
      size_t piece = static_cast<size_t>(std::min<uint64_t>(n, 4096 - at % 4096));
      if (left_-- <= 0) throw Cut{};
      inner_.write(at, p, piece);
      at += piece;
      p += piece;
      n -= piece;
    }
  }
  void sync() override {}
  bool writable() const override { return true; }
  const std::string& label() const override { return inner_.label(); }
  long left() const { return left_; }

 private:
  MemoryDevice& inner_;
  long left_;
};

// What a journal file would hold when the writer stops.
class MemoryLog : public IntentLog {
 public:
  void begin() override {
    begun = true;
    writes.clear();
  }
  void record(const std::vector<Write>& w) override { writes = w; }
  void clear() override { writes.clear(); }
  bool begun = false;
  std::vector<Write> writes;
};

std::vector<std::string> parts(const std::string& path) { return volume::split(path, path); }

std::string content(FileSystem& fs, const std::string& path) {
  FileSystem::OpenFile f = fs.openFile(parts(path), path);
  std::string out(f.entry.size, '\0');
  fs.readClusters(f.clusters, 0, reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

void write(FileSystem& fs, const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<FileSystem::Change> changes(files.size());
  std::vector<FileSystem::Change*> ptrs;
  for (size_t i = 0; i < files.size(); ++i) {
    changes[i].parts = parts(files[i].first);
    changes[i].shown = files[i].first;
    fs.append(changes[i].chain, reinterpret_cast<const uint8_t*>(files[i].second.data()), files[i].second.size(),
              files[i].first);
    ptrs.push_back(&changes[i]);
  }
  fs.commit(ptrs);
}

struct Step {
  std::string name;
  Kind kind;
  std::function<void(FileSystem&)> before;  // the state the change starts from
  std::function<void(FileSystem&)> change;
  // Checks a state the change may leave; `done` tells whether it is the new one.
  std::function<void(FileSystem&, bool* done)> check;
};

const size_t kSize = 9000;

std::string v(const std::string& f, int k) { return versionBytes(f, k, kSize); }

// The version of the file at path written under the name.
std::optional<int> versionIn(FileSystem& fs, const std::string& path, const std::string& name) {
  try {
    return versionOf(name, content(fs, path), kSize);
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool exists(FileSystem& fs, const std::string& path) {
  auto w = fs.walk(parts(path));
  return w.size() == parts(path).size();
}

std::vector<Step> steps() {
  auto set3 = std::vector<std::string>{"Autoexec.bat", "SYSTEM.DAT", "Long named user file.dat"};
  auto pad = [](FileSystem& fs, int n, const std::string& tag) {
    for (int i = 0; i < n; ++i) fs.writeInPlace(parts("Padding " + tag + std::to_string(i) + ".txt"), "p", "p", false);
  };
  return {
      {"ReplaceOneFile", Kind::Floppy,
       [](FileSystem& fs) { write(fs, {{"RESCUE.BIN", v("RESCUE.BIN", 1)}}); },
       [](FileSystem& fs) { write(fs, {{"RESCUE.BIN", v("RESCUE.BIN", 2)}}); },
       [](FileSystem& fs, bool* done) {
         auto k = versionIn(fs, "RESCUE.BIN", "RESCUE.BIN");
         ASSERT_TRUE(k);
         *done = *k == 2;
       }},
      {"NewFileWithLongName", Kind::Fat16,
       [](FileSystem& fs) { fs.makeFolder(parts("Program Files"), "x"); },
       [](FileSystem& fs) { write(fs, {{"Program Files\\A new long name.txt", v("A new long name.txt", 1)}}); },
       [](FileSystem& fs, bool* done) {
         *done = exists(fs, "Program Files\\A new long name.txt");
         if (*done) {
           EXPECT_EQ(content(fs, "Program Files\\A new long name.txt"), v("A new long name.txt", 1));
         }
       }},
      {"SetAcrossPagesOfTheRoot", Kind::Floppy,
       [=](FileSystem& fs) {
         for (const std::string& f : set3) {
           write(fs, {{f, versionBytes(f, 1, kSize)}});
           pad(fs, 20, f.substr(0, 3));
         }
       },
       [=](FileSystem& fs) {
         write(fs, {{set3[0], versionBytes(set3[0], 2, kSize)},
                    {set3[1], versionBytes(set3[1], 2, kSize)},
                    {set3[2], versionBytes(set3[2], 2, kSize)}});
       },
       [=](FileSystem& fs, bool* done) {
         std::optional<int> first;
         for (const std::string& f : set3) {
           auto k = versionOf(f, content(fs, f), kSize);
           ASSERT_TRUE(k) << f;
           if (!first) first = k;
           EXPECT_EQ(k, first) << "a mixed set";
         }
         *done = *first == 2;
       }},
      {"SetWithNewNamesInAFolder", Kind::Fat32,
       [](FileSystem& fs) {
         fs.makeFolder(parts("Exchange"), "x");
         write(fs, {{"Exchange\\System.dat", v("System.dat", 1)}});
       },
       [](FileSystem& fs) {
         std::vector<std::pair<std::string, std::string>> files{{"Exchange\\System.dat", v("System.dat", 2)}};
         for (int i = 0; i < 12; ++i) {
           std::string n = "Exchange\\A long member name number " + std::to_string(i) + ".dat";
           files.push_back({n, versionBytes(n, 2, kSize)});
         }
         write(fs, files);
       },
       [](FileSystem& fs, bool* done) {
         auto k = versionIn(fs, "Exchange\\System.dat", "System.dat");
         ASSERT_TRUE(k);
         *done = *k == 2;
         for (int i = 0; i < 12; ++i) {
           std::string n = "Exchange\\A long member name number " + std::to_string(i) + ".dat";
           EXPECT_EQ(exists(fs, n), *done) << n;
         }
       }},
      {"MoveReplacingIntoAnotherFolder", Kind::Floppy,
       [](FileSystem& fs) {
         fs.makeFolder(parts("WINDOWS"), "x");
         fs.makeFolder(parts("Exchange"), "x");
         write(fs, {{"WINDOWS\\System.dat", v("System.dat", 1)}});
         write(fs, {{"Exchange\\System.dat", v("System.dat", 2)}});
       },
       [](FileSystem& fs) {
         fs.rename(parts("Exchange\\System.dat"), "a", parts("WINDOWS\\System.dat"), "b", true);
       },
       [](FileSystem& fs, bool* done) {
         auto k = versionIn(fs, "WINDOWS\\System.dat", "System.dat");
         ASSERT_TRUE(k);
         *done = *k == 2;
         EXPECT_EQ(exists(fs, "Exchange\\System.dat"), !*done);
       }},
      {"MoveAFolderWithFiles", Kind::Fat16,
       [](FileSystem& fs) {
         fs.makeFolder(parts("Old place"), "x");
         fs.makeFolder(parts("Old place\\Moving folder"), "x");
         fs.makeFolder(parts("New place"), "x");
         write(fs, {{"Old place\\Moving folder\\inside.txt", v("inside.txt", 1)}});
       },
       [](FileSystem& fs) {
         fs.rename(parts("Old place\\Moving folder"), "a", parts("New place\\Moved folder"), "b", false);
       },
       [](FileSystem& fs, bool* done) {
         *done = exists(fs, "New place\\Moved folder\\inside.txt");
         EXPECT_EQ(exists(fs, "Old place\\Moving folder\\inside.txt"), !*done);
       }},
      {"AppendGrowingTheFile", Kind::Floppy,
       [](FileSystem& fs) { fs.writeInPlace(parts("WININIT.INI"), "w", "[Rename]\r\n", false); },
       [](FileSystem& fs) { fs.writeInPlace(parts("WININIT.INI"), "w", std::string(3000, 'x'), true); },
       [](FileSystem& fs, bool* done) {
         std::string c = content(fs, "WININIT.INI");
         *done = c.size() > 10;
         EXPECT_EQ(c, *done ? "[Rename]\r\n" + std::string(3000, 'x') : "[Rename]\r\n");
       }},
      {"RemoveAFile", Kind::Fat32,
       [](FileSystem& fs) {
         fs.makeFolder(parts("Deep"), "x");
         write(fs, {{"Deep\\Going away with a long name.txt", v("g", 1)}});
       },
       [](FileSystem& fs) { fs.remove(parts("Deep\\Going away with a long name.txt"), "x"); },
       [](FileSystem& fs, bool* done) {
         *done = !exists(fs, "Deep\\Going away with a long name.txt");
         if (!*done) {
           EXPECT_EQ(content(fs, "Deep\\Going away with a long name.txt"), v("g", 1));
         }
       }},
  };
}

void PrintTo(const Step& s, std::ostream* os) { *os << s.name; }

class Crashes : public ::testing::TestWithParam<Step> {};

TEST_P(Crashes, AtEveryPageWritten) {
  const Step& s = GetParam();
  TempDir dir;
  Image img = makeImage(dir.path(), s.kind, "base.img");
  MemoryDevice base(slurp(img.path), "base.img");
  {
    FileSystem fs(base, "C:", nullptr);
    fs.load();
    s.before(fs);
    fs.finish();
  }
  const std::string start = base.bytes();
  bool sawOld = false, sawNew = false;
  int stops = 0;
  for (long pages = 0;; ++pages) {
    MemoryDevice mem(start, "crash.img");
    MemoryLog log;
    CutDevice cut(mem, pages);
    bool finished = false;
    {
      FileSystem fs(cut, "C:", &log);
      fs.load();
      try {
        s.change(fs);
        fs.finish();
        finished = true;
      } catch (const Cut&) {
      }
    }
    // What fsck.fat sees right after the stop.
    Image left{dir / "left.img", 0, mem.size()};
    spit(left.path, mem.bytes());
    EXPECT_EQ(fsckBeyondKill(left), "") << s.name << " stopped after " << pages << " pages";
    // The next session repairs what a stopped one left, and the state is old or new.
    MemoryDevice next(mem.bytes(), "next.img");
    FileSystem fs(next, "C:", nullptr);
    fs.load();
    if (log.begun) fs.repair(log.writes);
    fs.finish();
    bool done = false;
    s.check(fs, &done);
    (done ? sawNew : sawOld) = true;
    if (finished) {
      EXPECT_TRUE(done) << s.name;
    }
    spit(left.path, next.bytes());
    std::string report;
    EXPECT_TRUE(fsckClean(left, &report)) << s.name << " stopped after " << pages << " pages:\n" << report;
    if (finished || ::testing::Test::HasFailure()) break;
    ++stops;
  }
  // Stopped inside the change, not only before or after it. (A change that
  // goes through the intent log before its first write is always finished
  // by the next session, so it may never be seen old.)
  EXPECT_GT(stops, 1) << s.name;
  EXPECT_TRUE(sawNew) << s.name;
  if (s.name != "MoveAFolderWithFiles") {
    EXPECT_TRUE(sawOld) << s.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, Crashes, ::testing::ValuesIn(steps()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
