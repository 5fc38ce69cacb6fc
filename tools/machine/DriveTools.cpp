#include "tools/machine/DriveTools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace machine_tool {

namespace fs = std::filesystem;
using namespace platform;

namespace {

bool hasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

std::string attributeLetters(uint8_t a) {
  std::string s = "----";
  if (a & kReadOnly) s[0] = 'R';
  if (a & kHidden) s[1] = 'H';
  if (a & kSystem) s[2] = 'S';
  if (a & kArchive) s[3] = 'A';
  return s;
}

std::string line(const Machine& m, const std::string& path) {
  uint8_t a = getAttributes(m, path);
  bool folder = (a & kDirectory) != 0;
  DateTime t = lastModified(m, path);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s  %10s  %04d-%02d-%02d %02d:%02d:%02d  %-12s  ", attributeLetters(a).c_str(),
                folder ? "<DIR>" : std::to_string(fileSize(m, path)).c_str(), t.year, t.month, t.day, t.hour,
                t.minute, t.second, ansiToUtf8(winBaseName(m.shortPath(path))).c_str());
  return buf + ansiToUtf8(winBaseName(m.longPath(path))) + "\n";
}

// The host file's bytes, read in pieces as the machine's writer takes them.
void fromHost(const fs::path& host, const PutBytes& put) {
  std::ifstream in(host, std::ios::binary);
  if (!in) throw std::runtime_error(host.string() + ": cannot be read");
  std::string buf(1 << 20, '\0');
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) put(std::string_view(buf.data(), static_cast<size_t>(in.gcount())));
  }
  if (in.bad()) throw std::runtime_error(host.string() + ": cannot be read");
}

}  // namespace

void listFolder(const Machine& m, const std::string& winPath, std::ostream& out) {
  const uint8_t all = kDirectory | kHidden | kSystem | kReadOnly | kArchive;
  std::string pattern = winPath;
  // getAttributes says what is wrong: no disk, no such file, no such folder.
  if (!hasWildcards(winBaseName(winPath))) {
    if (!(getAttributes(m, winPath) & kDirectory)) {
      out << line(m, winPath);
      return;
    }
    pattern = winPath.back() == '\\' ? winPath : winPath + "\\";
  } else {
    std::string folder = winDirName(winPath);
    if (!(getAttributes(m, folder.size() == 2 ? folder + "\\" : folder) & kDirectory)) {
      throw Error(kPathNotFound, winPath);
    }
  }
  std::string folder = winDirName(pattern);
  if (folder.size() == 2) folder += "\\";
  DirEnum d;
  for (std::string n = d.first(m, pattern, all); !n.empty(); n = d.next()) {
    out << line(m, winJoin(folder, n));
  }
}

void copyOut(const Machine& m, const std::string& winPath, const fs::path& host) {
  if (getAttributes(m, winPath) & kDirectory) {
    throw std::runtime_error(ansiToUtf8(winPath) + " is a folder, not a file");
  }
  fs::path target = host;
  std::error_code ec;
  if (fs::is_directory(target, ec)) target /= ansiToUtf8(winBaseName(m.longPath(winPath)));
  fs::path tmp = target.parent_path() / (".~brakvel-copy-" + std::to_string(::getpid()));
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error(target.string() + ": cannot be written");
    try {
      readFileInPieces(m, winPath, 1 << 20, [&](std::string_view piece) {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      });
    } catch (...) {
      out.close();
      fs::remove(tmp, ec);
      throw;
    }
    if (!out.flush()) {
      out.close();
      fs::remove(tmp, ec);
      throw std::runtime_error(target.string() + ": cannot be written");
    }
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = lastModified(m, winPath).toTime();
  times[1].tv_nsec = 0;
  ::utimensat(AT_FDCWD, tmp.c_str(), times, 0);
  fs::rename(tmp, target, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw std::runtime_error(target.string() + ": cannot be replaced");
  }
}

void copyIn(const Machine& m, const fs::path& host, const std::string& winPath) {
  std::error_code ec;
  if (!fs::is_regular_file(host, ec)) throw std::runtime_error(host.string() + ": no such file");
  std::string target = winPath;
  if (folderExists(m, winPath)) target = winJoin(winPath, utf8ToAnsi(host.filename().string()));
  if (std::string problem = fileNameProblem(winBaseName(target)); !problem.empty()) {
    throw std::runtime_error(ansiToUtf8(target) + " cannot be a Windows file name: " + problem);
  }
  writeFileAtomicStreamed(m, target, kArchive, [&](const PutBytes& put) { fromHost(host, put); });
  struct stat st;
  if (::stat(host.c_str(), &st) == 0) setLastModified(m, target, DateTime::fromTime(st.st_mtim.tv_sec));
}

}  // namespace machine_tool
