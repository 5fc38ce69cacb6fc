#include "platform/file_streams.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/hostfs.h"
#include "platform/image_files.h"
#include "platform/winpath.h"

namespace platform {

using namespace hostfs;

namespace {

class HostReader : public FileReader {
 public:
  HostReader(int fd, uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}
  ~HostReader() override { ::close(fd_); }
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failErrno(errno, path_);
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }

 private:
  int fd_;
  uint64_t size_;
  std::string path_;
};

class HostWriter : public FileWriter {
 public:
  HostWriter(const Machine& m, winpath::Walk w, std::string path, NewFile file)
      : m_(m), w_(std::move(w)), path_(std::move(path)), file_(file) {
    HostStat h = statOf(w_.host);
    old_ = h.exists ? static_cast<uint64_t>(h.st.st_size) : 0;
    openTemp(t_, w_.host.parent_path(), 0666, path_);
  }
  void write(std::string_view bytes) override {
    if (t_.fd < 0) throw Error(kInvalidCall, path_);
    writeAll(t_.fd, bytes, path_);
    written_ += bytes.size();
  }
  uint64_t written() const override { return written_; }
  void commit() override {
    if (t_.fd < 0) throw Error(kInvalidCall, path_);
    if (m_.isFloppy(w_.drive)) checkSpace(m_, w_, written_, old_, path_);
    checkWritable(m_, w_.drive, path_);
    finishTemp(t_, path_);
    if (file_.modified) {
      struct timespec times[2];
      times[0].tv_sec = times[1].tv_sec = file_.modified->toTime();
      times[0].tv_nsec = times[1].tv_nsec = 0;
      ::utimensat(AT_FDCWD, t_.path.c_str(), times, 0);
    }
    applyAttrs(t_.path, statOf(t_.path), file_.attributes);
    t_.keep = true;
    replaceWith(t_.path, w_.host, path_);
  }
  void describe(const NewFile& file) override { file_ = file; }
  void abort() override {
    if (t_.fd >= 0) ::close(t_.fd);
    t_.fd = -1;
  }

 private:
  const Machine& m_;
  winpath::Walk w_;
  std::string path_;
  NewFile file_;
  uint64_t old_ = 0, written_ = 0;
  TempFile t_;
};

}  // namespace

std::unique_ptr<FileReader> openFile(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) {
    if (imagefs::existing(*p).isFolder()) throw Error(kPathFileAccess, p->shown);
    return p->volume->open(p->rel);
  }
  struct stat st;
  int fd = openForReading(m, path, st);
  return std::make_unique<HostReader>(fd, static_cast<uint64_t>(st.st_size), str(path));
}

FileBytes::FileBytes(FileBytes&& o) noexcept : map_(o.map_), size_(o.size_), copy_(std::move(o.copy_)) {
  o.map_ = nullptr;
  o.size_ = 0;
}

FileBytes& FileBytes::operator=(FileBytes&& o) noexcept {
  if (this != &o) {
    if (map_) ::munmap(map_, size_);
    map_ = o.map_;
    size_ = o.size_;
    copy_ = std::move(o.copy_);
    o.map_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

FileBytes::~FileBytes() {
  if (map_) ::munmap(map_, size_);
}

FileBytes mapFile(const Machine& m, std::string_view path) {
  FileBytes b;
  if (m.driveImage(path.size() >= 2 && path[1] == ':' ? path[0] : 0)) {
    b.copy_ = readFile(m, path);
    return b;
  }
  struct stat st;
  int fd = openForReading(m, path, st);
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    // Files are replaced by rename, never rewritten in place, so the
    // mapped bytes stay those of the file that was opened.
    void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p != MAP_FAILED) {
      b.map_ = p;
      b.size_ = static_cast<size_t>(st.st_size);
    }
  }
  ::close(fd);
  if (!b.map_ && st.st_size > 0) b.copy_ = readFile(m, path);
  return b;
}

std::unique_ptr<FileWriter> createFile(const Machine& m, std::string_view path, const NewFile& file) {
  if (auto p = imagefs::place(m, path)) {
    auto old = imagefs::find(*p);
    if (old && (old->isFolder() || (old->attributes & kReadOnly))) throw Error(kPathFileAccess, p->shown);
    return p->volume->create(p->rel, file);
  }
  winpath::Walk w = inExistingFolder(m, path);
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, str(path));
  checkWritable(m, w.drive, path);
  refuseReadOnly(h, path);
  return std::make_unique<HostWriter>(m, std::move(w), str(path), file);
}

}  // namespace platform
