#include "tests/fat/support.h"

#include <sstream>

namespace testing_fat {

void put(platform::Volume& v, const std::string& path, const std::string& bytes, platform::NewFile file) {
  auto w = v.create(path, file);
  w->write(bytes);
  w->commit();
}

namespace {

// mtools refuses images whose geometry it doubts; ours are what they are.
Result peer(const std::vector<std::string>& argv) {
  return testsupport::run(argv, kPeerBudget, {.env = {{"MTOOLS_SKIP_CHECK", "1"}}, .mergeOutput = true});
}

}  // namespace

std::string kindName(Kind k) {
  switch (k) {
    case Kind::Floppy: return "Floppy";
    case Kind::Fat12: return "Fat12";
    case Kind::Fat16: return "Fat16";
    case Kind::Fat32: return "Fat32";
    case Kind::Fat16Mbr: return "Fat16Mbr";
    case Kind::Fat32Mbr: return "Fat32Mbr";
  }
  return "?";
}

std::string Image::mtoolsTarget() const {
  return offset ? path.string() + "@@" + std::to_string(offset) : path.string();
}

namespace {

void mkfs(const fs::path& p, int bits, int kilobytes, uint64_t hiddenSectors) {
  std::vector<std::string> argv{"mkfs.fat", "-F", std::to_string(bits), "-C"};
  // The smallest FAT32 there is: clusters of one sector.
  if (bits == 32) argv.insert(argv.begin() + 1, {"-s", "1"});
  if (hiddenSectors) {
    argv.insert(argv.begin() + 1, {"-h", std::to_string(hiddenSectors)});
  }
  argv.push_back(p.string());
  argv.push_back(std::to_string(kilobytes));
  Result r = peer(argv);
  if (r.status != 0) throw std::runtime_error("mkfs.fat failed: " + r.out);
}

}  // namespace

Image makeImage(const fs::path& dir, Kind kind, const std::string& name) {
  Image img;
  img.path = dir / name;
  fs::remove(img.path);
  switch (kind) {
    case Kind::Floppy:
      platform::fat::createFloppyImage(img.path);
      break;
    case Kind::Fat12: mkfs(img.path, 12, 2048, 0); break;
    case Kind::Fat16: mkfs(img.path, 16, 16384, 0); break;
    case Kind::Fat32: mkfs(img.path, 32, 34000, 0); break;
    case Kind::Fat16Mbr:
    case Kind::Fat32Mbr: {
      bool f32 = kind == Kind::Fat32Mbr;
      fs::path part = dir / (name + ".part");
      fs::remove(part);
      mkfs(part, f32 ? 32 : 16, f32 ? 34000 : 16384, 2048);
      std::string bytes = slurp(part);
      fs::remove(part);
      std::string mbr(1 << 20, '\0');
      uint32_t sectors = static_cast<uint32_t>(bytes.size() / 512);
      unsigned char* e = reinterpret_cast<unsigned char*>(mbr.data()) + 446;
      e[0] = 0x80;
      e[4] = f32 ? 0x0C : 0x06;
      for (int i = 0; i < 4; ++i) {
        e[8 + i] = static_cast<unsigned char>(2048u >> (8 * i));
        e[12 + i] = static_cast<unsigned char>(sectors >> (8 * i));
      }
      mbr[510] = '\x55';
      mbr[511] = '\xAA';
      spit(img.path, mbr + bytes);
      img.offset = 1 << 20;
      break;
    }
  }
  img.length = fs::file_size(img.path) - img.offset;
  return img;
}

std::unique_ptr<platform::fat::FatVolume> mount(const Image& img, const std::string& root) {
  return platform::fat::FatVolume::openImage(img.path, {root, false, std::chrono::milliseconds(20000)});
}

Result mtools(const std::string& tool, const Image& img, const std::vector<std::string>& args) {
  std::vector<std::string> argv{tool, "-i", img.mtoolsTarget()};
  argv.insert(argv.end(), args.begin(), args.end());
  return peer(argv);
}

Result fsck(const Image& img) {
  if (img.offset == 0) return peer({"fsck.fat", "-n", img.path.string()});
  std::string all = slurp(img.path);
  fs::path part = img.path.string() + ".fsck";
  spit(part, all.substr(img.offset, img.length));
  Result r = peer({"fsck.fat", "-n", part.string()});
  fs::remove(part);
  return r;
}

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Whether text has the shape of pattern, where '#' stands for one or more
// digits and '@' for one or more characters that are not blanks.
bool shaped(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return text.empty();
  char p = pattern.front();
  if (p == '#' || p == '@') {
    auto fits = [p](char c) { return p == '#' ? (c >= '0' && c <= '9') : c != ' '; };
    for (size_t n = 1; n <= text.size() && fits(text[n - 1]); ++n) {
      if (shaped(text.substr(n), pattern.substr(1))) return true;
    }
    return false;
  }
  return !text.empty() && text.front() == p && shaped(text.substr(1), pattern.substr(1));
}

bool always(const std::string& l) {
  return l.empty() || l.starts_with("fsck.fat ") || l == "Leaving filesystem unchanged." ||
         shaped(l, "@: # files, #/# clusters");
}

}  // namespace

bool fsckClean(const Image& img, std::string* report) {
  Result r = fsck(img);
  if (report) *report = r.out;
  if (r.status != 0) return false;
  for (const std::string& l : lines(r.out)) {
    if (!always(l)) return false;
  }
  return true;
}

std::string fsckBeyondKill(const Image& img) {
  Result r = fsck(img);
  std::string beyond;
  for (const std::string& l : lines(r.out)) {
    if (always(l) || shaped(l, "Reclaimed # unused cluster (# bytes).") ||
        shaped(l, "Reclaimed # unused clusters (# bytes).") ||
        shaped(l, "Free cluster summary uninitialized (should be #)") ||
        l == "FATs differ but appear to be intact." || l == "  Using first FAT.") {
      continue;
    }
    beyond += l + "\n";
  }
  return beyond;
}

std::vector<MdirLine> mdir(const Image& img, const std::string& dosPath) {
  std::vector<MdirLine> out;
  Result r = mtools("mdir", img, {"-a", dosPath});
  for (const std::string& l : lines(r.out)) {
    // NAME EXT SIZE|<DIR> YYYY-MM-DD HH:MM [ LONG NAME]
    size_t d = std::string::npos;
    for (size_t i = 1; i + 10 <= l.size(); ++i) {
      if (l[i - 1] == ' ' && shaped(l.substr(i, 10), "#-#-#")) {
        d = i;
        break;
      }
    }
    if (d == std::string::npos) continue;
    size_t t = l.find_first_not_of(' ', d + 10);
    size_t colon = t == std::string::npos ? t : l.find(':', t);
    if (colon == std::string::npos || colon + 3 > l.size() || !shaped(l.substr(t, colon + 3 - t), "#:#")) continue;
    std::istringstream head(l.substr(0, d));
    std::vector<std::string> tokens;
    for (std::string tok; head >> tok;) tokens.push_back(tok);
    if (tokens.size() < 2 || tokens.size() > 3) continue;
    MdirLine e;
    e.shortName = tokens.size() == 3 ? tokens[0] + "." + tokens[1] : tokens[0];
    e.size = tokens.back();
    e.date = l.substr(d, 10);
    e.time = l.substr(t, colon + 3 - t);
    if (l.size() > colon + 5 && l.compare(colon + 3, 2, "  ") == 0) e.longName = l.substr(colon + 5);
    if (e.shortName == "." || e.shortName == "..") continue;
    out.push_back(e);
  }
  return out;
}

}  // namespace testing_fat
