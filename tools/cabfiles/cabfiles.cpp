#include "tools/cabfiles/cabfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "cab/error.h"
#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/text.h"
#include "tools/cabfiles/streams.h"

namespace cabfiles {

Files Files::fromEnvironment() {
  Files f;
  const char* env = std::getenv("BRAKVEL9X_MACHINE");
  if (env && *env) f.machine_ = platform::Machine::open(platform::Machine::defaultDir());
  return f;
}

std::string Files::argument(const char* arg) const {
  return onMachine() ? std::string(arg) : platform::utf8ToAnsi(arg);
}

std::string Files::show(const std::string& text) { return platform::ansiToUtf8(text); }

fs::path Files::hostPath(const std::string& path) const { return fs::path(platform::ansiToUtf8(path)); }

std::string Files::join(const std::string& folder, const std::string& name) const {
  if (machine_) return platform::winJoin(folder, name);
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Files::dirName(const std::string& path) const {
  if (machine_) return platform::winDirName(path);
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Files::baseName(const std::string& path) const {
  if (machine_) return platform::winBaseName(path);
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Files::isAbsolute(const std::string& path) const {
  if (machine_) return path.size() >= 2 && path[1] == ':';
  return !path.empty() && path[0] == '/';
}

bool Files::isFolder(const std::string& path) const {
  if (machine_) return platform::folderExists(*machine_, path);
  std::error_code ec;
  return fs::is_directory(hostPath(path), ec);
}

bool Files::isFile(const std::string& path) const {
  if (machine_) return platform::fileExists(*machine_, path);
  std::error_code ec;
  return fs::is_regular_file(hostPath(path), ec);
}

FileInfo Files::info(const std::string& path) const {
  FileInfo i;
  if (machine_) {
    i.time = platform::lastModified(*machine_, path);
    i.attributes = platform::getAttributes(*machine_, path) &
                   (platform::kReadOnly | platform::kHidden | platform::kSystem | platform::kArchive);
    return i;
  }
  struct stat st {};
  if (::stat(hostPath(path).c_str(), &st) == 0) {
    i.time = platform::DateTime::fromTime(st.st_mtime);
    i.attributes = platform::kArchive;
    if (!(st.st_mode & S_IWUSR)) i.attributes |= platform::kReadOnly;
  }
  return i;
}

void Files::apply(const std::string& path, const FileInfo& info) const {
  if (machine_) {
    platform::setLastModified(*machine_, path, info.time);
    platform::setAttributes(*machine_, path, info.attributes);
    return;
  }
  fs::path host = hostPath(path);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = info.time.toTime();
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ::utimensat(AT_FDCWD, host.c_str(), times, 0);
  std::error_code ec;
  if (info.attributes & platform::kReadOnly)
    fs::permissions(host, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
}

void Files::makeFolders(const std::string& path) const {
  if (machine_) {
    platform::makeFolder(*machine_, path);
    return;
  }
  fs::create_directories(hostPath(path));
}

bool Files::sameFile(const std::string& a, const std::string& b) const {
  if (machine_) {
    // Every form of a name comes out as the one long form the file has.
    return isFile(a) && isFile(b) && platform::equalsNoCase(machine_->longPath(a), machine_->longPath(b));
  }
  std::error_code ec;
  return fs::equivalent(hostPath(a), hostPath(b), ec);
}

std::unique_ptr<cab::InStream> Files::open(const std::string& path) const {
  if (!machine_) return std::make_unique<cab::FileInStream>(hostPath(path), path);
  try {
    return std::make_unique<ReaderInStream>(platform::openFile(*machine_, path), path);
  } catch (const platform::Error& e) {
    throw cab::CabError("cannot open " + path + ": " + e.what());
  }
}

std::unique_ptr<platform::FileSet> Files::newFiles(const std::string& folder,
                                                   std::vector<platform::FileSet::File> files) const {
  if (machine_) return std::make_unique<platform::FileSet>(*machine_, folder, std::move(files));
  return std::make_unique<platform::FileSet>(hostPath(folder), std::move(files));
}

bool Files::onImage(const std::string& path) const {
  return machine_ && path.size() >= 2 && path[1] == ':' && machine_->driveImage(path[0]).has_value();
}

}  // namespace cabfiles
