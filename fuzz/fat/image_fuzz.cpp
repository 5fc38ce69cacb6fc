// Any bytes as the start of a disk image: the FAT code must list, read and
// change what it accepts, or refuse with platform::Error; never crash, hang
// or touch memory out of bounds. A repair runs at the end, as after a
// killed session.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fat/device.h"
#include "platform/fat/filesystem.h"

namespace {

using namespace platform;
using namespace platform::fat;

// The input, then zeros up to 48 MB (room for FAT16 and FAT32); what is
// written is kept by page.
class SparseDevice : public Device {
 public:
  explicit SparseDevice(std::string_view input) : input_(input) {}
  uint64_t size() const override { return kSize; }
  void read(uint64_t at, void* buf, size_t n) override {
    if (at > kSize || n > kSize - at) damaged(*this, "read beyond the end");
    auto* out = static_cast<char*>(buf);
    while (n > 0) {
      uint64_t page = at / kPage, within = at % kPage;
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, kPage - within));
      auto it = pages_.find(page);
      if (it != pages_.end()) {
        std::memcpy(out, it->second.data() + within, take);
      } else {
        size_t have = at < input_.size() ? static_cast<size_t>(std::min<uint64_t>(take, input_.size() - at)) : 0;
        if (have) std::memcpy(out, input_.data() + at, have);
        std::memset(out + have, 0, take - have);
      }
      out += take;
      at += take;
      n -= take;
    }
  }
  void write(uint64_t at, const void* buf, size_t n) override {
    if (at > kSize || n > kSize - at) damaged(*this, "write beyond the end");
    const auto* in = static_cast<const char*>(buf);
    while (n > 0) {
      uint64_t page = at / kPage, within = at % kPage;
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, kPage - within));
      auto it = pages_.find(page);
      if (it == pages_.end()) {
        std::string p(kPage, '\0');
        read(page * kPage, p.data(), p.size());
        it = pages_.emplace(page, std::move(p)).first;
      }
      std::memcpy(it->second.data() + within, in, take);
      in += take;
      at += take;
      n -= take;
    }
  }
  void sync() override {}
  bool writable() const override { return true; }
  const std::string& label() const override { return label_; }

 private:
  static constexpr uint64_t kSize = 48ull << 20, kPage = 4096;
  std::string_view input_;
  std::map<uint64_t, std::string> pages_;
  std::string label_ = "fuzz.img";
};

class Log : public IntentLog {
 public:
  void begin() override {}
  void record(const std::vector<Write>& w) override { writes = w; }
  void clear() override { writes.clear(); }
  std::vector<Write> writes;
};

void walk(FileSystem& fs, std::vector<std::string>& path, int depth, int& budget, std::vector<std::string>* firstFile) {
  std::vector<FileEntry> entries;
  try {
    entries = fs.list(path, "A:");
  } catch (const Error&) {
    return;
  }
  for (const FileEntry& e : entries) {
    if (--budget <= 0) return;
    path.push_back(e.name);
    if (e.isFolder()) {
      if (depth < 6) walk(fs, path, depth + 1, budget, firstFile);
    } else {
      try {
        FileSystem::OpenFile f = fs.openFile(path, "A:");
        std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(f.entry.size, 65536)));
        fs.readClusters(f.clusters, 0, buf.data(), buf.size());
        if (firstFile->empty()) *firstFile = path;
      } catch (const Error&) {
      }
    }
    path.pop_back();
  }
}

template <class F>
void attempt(F&& f) {
  try {
    f();
  } catch (const Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SparseDevice d(std::string_view(reinterpret_cast<const char*>(data), size));
  Log log;
  FileSystem fs(d, "A:", &log);
  try {
    fs.load();
  } catch (const Error&) {
    return 0;
  }
  std::vector<std::string> path, firstFile;
  int budget = 2000;
  walk(fs, path, 0, budget, &firstFile);
  attempt([&] { fs.space(); });
  attempt([&] { fs.writeInPlace({"NEW FILE.TXT"}, "A:", std::string(3000, 'n'), false); });
  attempt([&] { fs.makeFolder({"A folder"}, "A:"); });
  if (!firstFile.empty()) {
    attempt([&] { fs.writeInPlace(firstFile, "A:", "appended", true); });
    attempt([&] { fs.rename(firstFile, "A:", {"A folder", "moved.txt"}, "A:", false); });
    attempt([&] { fs.remove({"A folder", "moved.txt"}, "A:"); });
  }
  attempt([&] { fs.finish(); });
  attempt([&] { fs.repair(log.writes); });
  return 0;
}
