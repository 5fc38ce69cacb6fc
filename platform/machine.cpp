#include "platform/machine.h"

#include "platform/lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/error.h"
#include "platform/fat/fat_volume.h"
#include "platform/host_volume.h"
#include "platform/shortname.h"
#include "platform/temporaries.h"
#include "platform/text.h"
#include "platform/volume.h"
#include "platform/winpath.h"

extern char** environ;

namespace platform {

namespace {

constexpr std::string_view kEnvPrefix = "BRAKVEL9X_ENV_";

bool hostExists(const fs::path& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

std::string trim(std::string_view s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  size_t b = s.find_last_not_of(" \t");
  return std::string(s.substr(a, b - a + 1));
}

std::string lowerAscii(std::string_view s) { return lowerAnsi(s); }

std::vector<std::string> hostLines(const std::string& text) { return splitLines(text); }

bool readHostFile(const fs::path& p, std::string* out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

bool isSection(const std::string& line, std::string* name) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  *name = trim(std::string_view(line).substr(1, line.size() - 2));
  return true;
}

bool isComment(const std::string& line) { return line.empty() || line[0] == ';' || line[0] == '#'; }

// Host variable by name without regard to case: exact spelling first.
std::optional<std::string> hostVariable(std::string_view name) {
  std::optional<std::string> found;
  for (char** e = environ; e && *e; ++e) {
    std::string_view kv(*e);
    size_t eq = kv.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view k = kv.substr(0, eq);
    if (k == name) return std::string(kv.substr(eq + 1));
    if (!found && equalsNoCase(k, name)) found = std::string(kv.substr(eq + 1));
  }
  return found;
}

bool hostOwns(std::string_view name) {
  for (const char* n : {"PATH", "TEMP", "TMP", "COMSPEC"}) {
    if (equalsNoCase(name, n)) return true;
  }
  return false;
}

// What the host says about a variable: nullopt when it says nothing.
std::optional<std::string> hostOverride(std::string_view name) {
  if (auto v = hostVariable(std::string(kEnvPrefix) + std::string(name))) return utf8ToAnsi(*v);
  if (hostOwns(name)) return std::nullopt;
  if (auto v = hostVariable(name)) return utf8ToAnsi(*v);
  return std::nullopt;
}

// Read from the password file itself: the tools are linked statically,
// where the C library's user lookup would need its shared modules.
fs::path homeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  std::ifstream passwd("/etc/passwd");
  const std::string uid = std::to_string(getuid());
  for (std::string line; std::getline(passwd, line);) {
    // name:password:uid:gid:comment:home:shell
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string x; std::getline(fields, x, ':');) f.push_back(x);
    if (f.size() >= 6 && f[2] == uid && !f[5].empty()) return f[5];
  }
  return "/";
}

}  // namespace

// --- opening ----------------------------------------------------------------

Machine Machine::open(const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    throw MachineError("machine folder " + dir.string() + " does not exist");
  }
  Machine m;
  m.root_ = fs::absolute(dir, ec).lexically_normal();
  if (m.root_.has_filename() == false && m.root_.has_parent_path()) m.root_ = m.root_.parent_path();
  fs::path iniPath = m.root_ / "machine.ini";
  std::string text;
  if (!readHostFile(iniPath, &text)) {
    throw MachineError(iniPath.string() + ": missing; this is not a machine folder "
                       "(create one with: brakvel9x-machine init " + dir.string() + ")");
  }
  auto fail = [&](size_t line, const std::string& what) {
    throw MachineError(iniPath.string() + ":" + std::to_string(line) + ": " + what);
  };

  std::string section;
  std::map<char, size_t> driveLine;
  size_t winDirLine = 0;
  auto lines = hostLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t no = i + 1;
    std::string line = trim(lines[i]);
    if (no == 1 && line.starts_with("\xEF\xBB\xBF")) line = trim(line.substr(3));
    if (isComment(line)) continue;
    std::string name;
    if (isSection(line, &name)) {
      if (name.empty()) fail(no, "empty section name '[]'");
      section = lowerAscii(name);
      m.ini_[section];
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) fail(no, "expected [Section] or Name=Value, got '" + line + "'");
    std::string key = trim(std::string_view(line).substr(0, eq));
    std::string value = trim(std::string_view(line).substr(eq + 1));
    if (key.empty()) fail(no, "a value without a name: '" + line + "'");
    if (section.empty()) fail(no, "'" + line + "' comes before any [Section]");

    if (section == "drives") {
      if (key.size() != 1 || !std::isalpha(static_cast<unsigned char>(key[0]))) {
        fail(no, "drive '" + key + "' is not a drive letter A to Z");
      }
      char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
      if (value.empty()) fail(no, std::string("drive ") + letter + ": maps no folder");
      if (m.drives_.count(letter)) fail(no, std::string("drive ") + letter + ": is mapped twice");
      fs::path folder = fs::path(value).is_absolute() ? fs::path(value) : m.root_ / value;
      m.drives_[letter] = folder.lexically_normal();
      m.images_[letter] = fs::is_regular_file(folder, ec) || equalsNoCase(folder.extension().string(), ".img");
      driveLine[letter] = no;
    } else if (section == "machine" && lowerAscii(key) == "version") {
      if (value != "98" && !equalsNoCase(value, "ME")) {
        fail(no, "Version=" + value + " is not 98 or ME");
      }
    } else if (section == "floppy" && lowerAscii(key) == "writeprotected") {
      if (value != "0" && value != "1") fail(no, "WriteProtected=" + value + " is not 0 or 1");
    } else if (section == "floppy" && lowerAscii(key) == "capacity") {
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
          value.size() > 15) {
        fail(no, "Capacity=" + value + " is not a number of bytes");
      }
    } else if (section == "environment") {
      value = utf8ToAnsi(value);
      key = utf8ToAnsi(key);
      auto it = std::find_if(m.iniEnv_.begin(), m.iniEnv_.end(),
                             [&](auto& kv) { return equalsNoCase(kv.first, key); });
      if (it != m.iniEnv_.end()) {
        it->second = value;
      } else {
        m.iniEnv_.emplace_back(key, value);
      }
      if (equalsNoCase(key, "WinDir")) winDirLine = no;
    }
    m.ini_[section][lowerAscii(key)] = value;
  }

  if (m.drives_.empty()) {
    throw MachineError(iniPath.string() + ": [Drives] maps no drive (add a line such as C=drive_c)");
  }
  for (auto& [letter, folder] : m.drives_) {
    if (m.isFloppy(letter)) continue;
    if (m.images_[letter]) {
      if (!fs::is_regular_file(folder, ec)) {
        fail(driveLine[letter], std::string("the disk image of drive ") + letter + ": (" + folder.string() +
                                    ") does not exist");
      }
      continue;
    }
    if (!fs::is_directory(folder, ec)) {
      fail(driveLine[letter], std::string("the folder of drive ") + letter + ": (" +
                                  folder.string() + ") does not exist");
    }
  }
  if (winDirLine) {
    std::string winDir;
    for (auto& [k, v] : m.iniEnv_) {
      if (equalsNoCase(k, "WinDir")) winDir = v;
    }
    if (winDir.size() < 2 || winDir[1] != ':') {
      fail(winDirLine, "WinDir=" + winDir + " is not a drive path like C:\\WINDOWS");
    }
    char letter = upperAnsi(winDir[0]);
    if (!m.drives_.count(letter)) {
      fail(winDirLine, "WinDir=" + winDir + " is on drive " + letter +
                           ":, which [Drives] does not map");
    }
  }
  m.volumes_ = std::make_shared<Volumes>();
  return m;
}

fs::path Machine::defaultDir() {
  if (const char* d = std::getenv("BRAKVEL9X_MACHINE"); d && *d) return d;
  fs::path data;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x && fs::path(x).is_absolute()) {
    data = x;
  } else {
    data = homeDir() / ".local" / "share";
  }
  return data / "brakvel9x" / "demo";
}

// --- machine.ini --------------------------------------------------------------

std::optional<std::string> Machine::ini(std::string_view section, std::string_view key) const {
  auto s = ini_.find(lowerAscii(section));
  if (s == ini_.end()) return std::nullopt;
  auto k = s->second.find(lowerAscii(key));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

// One FatVolume per image drive, kept for the machine's life: it follows the
// image file itself (a disk taken out or replaced is noticed on next use).
// One HostVolume per folder drive.
struct Machine::Volumes {
  std::mutex mutex;
  std::map<char, std::unique_ptr<Volume>> open;
  std::map<char, std::unique_ptr<HostVolume>> folders;
};

void Machine::setIni(std::string_view section, std::string_view key, std::string_view value) {
  fs::path iniPath = root_ / "machine.ini";
  std::string text;
  if (!readHostFile(iniPath, &text)) throw MachineError(iniPath.string() + ": cannot be read");
  const bool crlf = text.find("\r\n") != std::string::npos;
  const std::string eol = crlf ? "\r\n" : "\n";
  std::string hostValue = section == "Environment" || equalsNoCase(section, "environment")
                              ? ansiToUtf8(value)
                              : std::string(value);
  auto lines = hostLines(text);
  std::string cur;
  long sectionEnd = -1;  // index after the last line of the section
  bool done = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string line = trim(lines[i]);
    std::string name;
    if (isSection(line, &name)) {
      cur = name;
      if (equalsNoCase(cur, section)) sectionEnd = static_cast<long>(i) + 1;
      continue;
    }
    if (!equalsNoCase(cur, section)) continue;
    if (!isComment(line)) sectionEnd = static_cast<long>(i) + 1;
    size_t eq = line.find('=');
    if (eq != std::string::npos && equalsNoCase(trim(line.substr(0, eq)), key)) {
      lines[i] = trim(line.substr(0, eq)) + "=" + hostValue;
      done = true;
    }
  }
  if (!done) {
    std::string entry = std::string(key) + "=" + hostValue;
    if (sectionEnd >= 0) {
      lines.insert(lines.begin() + sectionEnd, entry);
    } else {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry);
    }
  }
  std::string out;
  for (auto& l : lines) out += l + eol;

  temporaries::sweep(root_);
  fs::path tmp = root_ / temporaries::newName();
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << out;
    f.flush();
    if (!f) {
      std::error_code ec;
      fs::remove(tmp, ec);
      throw MachineError(iniPath.string() + ": cannot be written");
    }
  }
  std::error_code ec;
  fs::rename(tmp, iniPath, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw MachineError(iniPath.string() + ": cannot be replaced: " + ec.message());
  }

  std::string ansiValue(value);
  ini_[lowerAscii(section)][lowerAscii(key)] = ansiValue;
  if (equalsNoCase(section, "environment")) {
    auto it = std::find_if(iniEnv_.begin(), iniEnv_.end(),
                           [&](auto& kv) { return equalsNoCase(kv.first, key); });
    if (it != iniEnv_.end()) {
      it->second = ansiValue;
    } else {
      iniEnv_.emplace_back(std::string(key), ansiValue);
    }
  }
  if (volumes_ && equalsNoCase(section, "floppy")) {
    std::lock_guard<std::mutex> lock(volumes_->mutex);
    for (auto& [letter, v] : volumes_->folders) v->configure(*this);
  }
}

// --- drives -------------------------------------------------------------------

std::optional<fs::path> Machine::driveFolder(char letter) const {
  auto it = drives_.find(upperAnsi(letter));
  if (it == drives_.end() || images_.at(it->first)) return std::nullopt;
  return it->second;
}

bool Machine::hasDrive(char letter) const { return drives_.count(upperAnsi(letter)) != 0; }

std::optional<fs::path> Machine::driveImage(char letter) const {
  auto it = drives_.find(upperAnsi(letter));
  if (it == drives_.end() || !images_.at(it->first)) return std::nullopt;
  return it->second;
}


Volume* Machine::volume(char letter) const {
  char u = upperAnsi(letter);
  auto it = drives_.find(u);
  if (it == drives_.end() || !volumes_) return nullptr;
  if (images_.at(u)) return imageVolume(u);
  std::lock_guard<std::mutex> lock(volumes_->mutex);
  auto& slot = volumes_->folders[u];
  if (!slot) {
    slot = std::make_unique<HostVolume>(*this, u);
  } else {
    slot->configure(*this);  // machine.ini's floppy settings as this copy has them
  }
  return slot.get();
}

Volume* Machine::imageVolume(char letter) const {
  auto image = driveImage(letter);
  if (!image || !volumes_) return nullptr;
  char u = upperAnsi(letter);
  std::lock_guard<std::mutex> lock(volumes_->mutex);
  auto& slot = volumes_->open[u];
  if (!slot) {
    fat::FatVolumeOptions options;
    options.root = std::string(1, u) + ":";
    options.writeProtected = isFloppy(u) && ini("Floppy", "WriteProtected").value_or("0") == "1";
    slot = fat::FatVolume::openImage(*image, options);
  }
  return slot.get();
}

bool Machine::isFloppy(char letter) const {
  char u = upperAnsi(letter);
  return u == 'A' || u == 'B';
}

std::vector<char> Machine::drives() const {
  std::vector<char> out;
  for (auto& [letter, folder] : drives_) out.push_back(letter);
  return out;
}

// --- environment --------------------------------------------------------------

std::optional<std::string> Machine::env(std::string_view name) const {
  std::optional<std::string> value;
  if (auto h = hostOverride(name)) {
    value = *h;
  } else {
    for (auto& [k, v] : iniEnv_) {
      if (equalsNoCase(k, name)) value = v;
    }
  }
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::vector<std::pair<std::string, std::string>> Machine::environment() const {
  std::vector<std::pair<std::string, std::string>> out;
  auto known = [&](std::string_view name) {
    return std::any_of(out.begin(), out.end(), [&](auto& kv) { return equalsNoCase(kv.first, name); });
  };
  auto add = [&](const std::string& name) {
    if (known(name)) return;
    if (auto v = env(name)) out.emplace_back(name, *v);
  };
  for (auto& [k, v] : iniEnv_) add(k);
  for (char** e = environ; e && *e; ++e) {
    std::string_view kv(*e);
    size_t eq = kv.find('=');
    if (eq != std::string_view::npos && kv.starts_with(kEnvPrefix)) {
      add(utf8ToAnsi(kv.substr(kEnvPrefix.size(), eq - kEnvPrefix.size())));
    }
  }
  // Host variables that Windows 9x programs look at, for a test that sets them.
  for (const char* name : {"OS", "windir", "winbootdir", "PROMPT", "CMDLINE"}) {
    if (!known(name) && hostVariable(name)) add(name);
  }
  return out;
}

// --- paths --------------------------------------------------------------------

namespace winpath {

std::vector<std::string> split(std::string_view winPath, char* drive, bool* trailingSeparator) {
  if (winPath.size() < 2 || winPath[1] != ':' ||
      !std::isalpha(static_cast<unsigned char>(winPath[0]))) {
    throw Error(kBadFileNameSyntax, std::string(winPath));
  }
  *drive = static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0])));
  std::string_view rest = winPath.substr(2);
  *trailingSeparator = !rest.empty() && (rest.back() == '\\' || rest.back() == '/');
  return volume::split(rest, std::string(winPath));
}

namespace {

bool isDir(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Walk walk(const Machine& m, std::string_view winPath) {
  Walk w;
  auto parts = split(winPath, &w.drive, &w.trailingSeparator);
  if (auto image = m.driveImage(w.drive)) {
    throw Error(kPathFileAccess, std::string(winPath) + " (drive " + w.drive + ": is the disk image " +
                                     image->string() + ")");
  }
  auto folder = m.driveFolder(w.drive);
  if (!folder) throw Error(kPathNotFound, std::string(winPath));
  w.driveFolder = *folder;
  if (m.isFloppy(w.drive) && !isDir(*folder)) throw Error(kDiskNotReady, std::string(winPath));
  fs::path cur = *folder;
  bool found = isDir(cur);
  for (const std::string& part : parts) {
    std::optional<std::string> entry;
    if (found) entry = shortname::entryNamed(cur, part);
    if (entry) {
      ++w.existing;
      w.hostNames.push_back(*entry);
      cur /= *entry;
      found = isDir(cur);
    } else {
      found = false;
      w.hostNames.push_back(ansiToUtf8(part));
      cur /= w.hostNames.back();
    }
  }
  w.host = cur;
  return w;
}

}  // namespace winpath

fs::path Machine::toHost(std::string_view winPath) const { return winpath::walk(*this, winPath).host; }

std::optional<std::string> Machine::toWindows(const fs::path& host) const {
  std::error_code ec;
  fs::path p = fs::absolute(host, ec).lexically_normal();
  for (auto& [letter, folder] : drives_) {
    if (images_.at(letter)) continue;
    for (int pass = 0; pass < 2; ++pass) {
      fs::path base = folder;
      fs::path target = p;
      if (pass == 1) {
        base = fs::weakly_canonical(folder, ec);
        target = fs::weakly_canonical(p, ec);
      }
      fs::path rel = target.lexically_relative(base);
      if (rel.empty() || *rel.begin() == "..") continue;
      std::string out = std::string(1, letter) + ":";
      bool any = false;
      for (auto& part : rel) {
        if (part == "." || part.empty()) continue;
        out += "\\" + utf8ToAnsi(part.string());
        any = true;
      }
      if (!any) out += "\\";
      return out;
    }
  }
  return std::nullopt;
}

namespace {

// The path's entries on an image drive, or nullopt when the drive is no
// image; empty when the path does not exist (or cannot be read).
std::optional<std::vector<FileEntry>> imageWalk(const Machine& m, std::string_view winPath, char* drive,
                                                bool* trailing) {
  std::vector<std::string> parts;
  try {
    parts = winpath::split(winPath, drive, trailing);
  } catch (const Error&) {
    return std::nullopt;
  }
  if (!m.driveImage(*drive)) return std::nullopt;
  std::string rel;
  for (auto& p : parts) {
    if (!rel.empty()) rel += '\\';
    rel += p;
  }
  try {
    auto entries = m.imageVolume(*drive)->walk(rel);
    if (entries.size() != parts.size()) return std::vector<FileEntry>{};
    if (parts.empty()) entries.push_back(folderEntry());  // the root marks "found"
    return entries;
  } catch (const Error&) {
    return std::vector<FileEntry>{};
  }
}

std::string joinImagePath(char drive, const std::vector<FileEntry>& entries, bool trailing, bool shortNames) {
  std::string out = std::string(1, drive) + ":";
  bool root = entries.size() == 1 && entries[0].name.empty();
  if (!root) {
    for (auto& e : entries) out += "\\" + (shortNames ? e.shortName : e.name);
  }
  if (root || trailing) out += "\\";
  return out;
}

}  // namespace

std::string Machine::shortPath(std::string_view winPath) const {
  char drive = 0;
  bool trailing = false;
  if (auto entries = imageWalk(*this, winPath, &drive, &trailing)) {
    return entries->empty() ? std::string() : joinImagePath(drive, *entries, trailing, true);
  }
  winpath::Walk w;
  try {
    w = winpath::walk(*this, winPath);
  } catch (const Error&) {
    return {};
  }
  if (!w.complete() || !hostExists(w.host)) return {};
  std::string out = std::string(1, w.drive) + ":";
  fs::path cur = w.driveFolder;
  for (const std::string& name : w.hostNames) {
    std::string s = shortname::of(cur, name);
    if (s.empty()) return {};
    out += "\\" + s;
    cur /= name;
  }
  if (w.hostNames.empty() || w.trailingSeparator) out += "\\";
  return out;
}

std::string Machine::longPath(std::string_view winPath) const {
  char drive = 0;
  bool trailing = false;
  if (auto entries = imageWalk(*this, winPath, &drive, &trailing)) {
    return entries->empty() ? std::string() : joinImagePath(drive, *entries, trailing, false);
  }
  winpath::Walk w;
  try {
    w = winpath::walk(*this, winPath);
  } catch (const Error&) {
    return {};
  }
  if (!w.complete() || !hostExists(w.host)) return {};
  std::string out = std::string(1, w.drive) + ":";
  for (const std::string& name : w.hostNames) out += "\\" + utf8ToAnsi(name);
  if (w.hostNames.empty() || w.trailingSeparator) out += "\\";
  return out;
}

// --- helpers without a machine ------------------------------------------------

std::string winJoin(std::string_view folder, std::string_view name) {
  std::string out(folder);
  bool folderEnds = !out.empty() && (out.back() == '\\' || out.back() == '/');
  bool nameStarts = !name.empty() && (name.front() == '\\' || name.front() == '/');
  if (folderEnds && nameStarts) {
    name.remove_prefix(1);
  } else if (!out.empty() && !folderEnds && !nameStarts) {
    out += '\\';
  }
  out += name;
  return out;
}

std::string winBaseName(std::string_view path) {
  size_t i = path.find_last_of("\\/:");
  return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string winDirName(std::string_view path) {
  size_t i = path.find_last_of('\\');
  return std::string(i == std::string_view::npos ? std::string_view{} : path.substr(0, i));
}

bool isValid83(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
  if (base.empty() || base.size() > 8) return false;
  if (dot != std::string_view::npos && (ext.empty() || ext.size() > 3)) return false;
  auto valid = [](std::string_view s) {
    for (char ch : s) {
      auto c = static_cast<unsigned char>(ch);
      bool ok = c >= 0x80 || std::isalnum(c) ||
                std::string_view("!#$%&'()-@^_`{}~").find(ch) != std::string_view::npos;
      if (!ok) return false;
    }
    return true;
  };
  return valid(base) && valid(ext);
}

}  // namespace platform
