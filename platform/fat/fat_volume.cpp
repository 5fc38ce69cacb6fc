#include "platform/fat/fat_volume.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/fat/device.h"
#include "platform/fat/filesystem.h"
#include "platform/fat/layout.h"
#include "platform/shortname.h"
#include "platform/temporaries.h"

namespace platform::fat {

namespace fs = std::filesystem;

namespace {

struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {}, ctime {};
  bool operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
  // Set by a write session of ours: a modification time that is not the change time.
  bool ours() const { return mtime.tv_sec != ctime.tv_sec || mtime.tv_nsec != ctime.tv_nsec; }
};

Stamp stampOf(int fd) {
  struct stat st {};
  Stamp s;
  if (::fstat(fd, &st) != 0) return s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  s.ctime = st.st_ctim;
  return s;
}

bool modeWritable(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

uint64_t fnv(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

void put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}

uint64_t get64(const std::string& in, size_t at) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return v;
}

// The journal beside the image: present while a write session runs, and
// after a session that was killed.
class Journal : public IntentLog {
 public:
  Journal(fs::path path, dev_t dev, ino_t ino, std::string label)
      : path_(std::move(path)), label_(std::move(label)) {
    header_ = "BRAKVEL9X FAT JOURNAL 1 " + std::to_string(dev) + " " + std::to_string(ino) + "\n";
  }
  ~Journal() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void begin() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw Error(kPermissionDenied, label_ + ": its journal " + path_.string() +
                                         " cannot be made (" + std::strerror(errno) + "), so nothing is written");
    }
    put(0, header_);
  }

  void record(const std::vector<Write>& writes) override {
    std::string body = "REDO ";
    put64(body, writes.size());
    for (const Write& w : writes) {
      put64(body, w.at);
      body.append(reinterpret_cast<const char*>(w.bytes.data()), w.bytes.size());
    }
    uint64_t sum = fnv(body);
    put64(body, sum);
    body += "END\n";
    put(header_.size(), body);
    ::fdatasync(fd_);
  }

  void clear() override {
    if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(header_.size())) != 0) {
      throw Error(kDeviceError, errorDescription(kDeviceError), label_ + ": its journal cannot be cleared");
    }
  }

  // The session ended whole.
  void finish() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
  }

  struct Left {
    bool exists = false;
    bool ours = false;  // made for this image
    std::vector<Write> replay;
  };
  Left read() const {
    Left l;
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return l;
    l.exists = true;
    std::string all;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 && all.size() < (64u << 20);) all.append(buf, static_cast<size_t>(n));
    ::close(fd);
    if (!all.starts_with(header_)) return l;
    l.ours = true;
    std::string rest = all.substr(header_.size());
    if (!rest.starts_with("REDO ") || rest.size() < 13) return l;
    uint64_t count = get64(rest, 5);
    if (count > (1u << 20)) return l;
    size_t bodyEnd = 13 + static_cast<size_t>(count) * 40;
    if (rest.size() != bodyEnd + 12 || rest.compare(bodyEnd + 8, 4, "END\n") != 0) return l;
    if (fnv(rest.substr(0, bodyEnd)) != get64(rest, bodyEnd)) return l;
    for (size_t i = 0; i < count; ++i) {
      Write w;
      w.at = get64(rest, 13 + i * 40);
      std::memcpy(w.bytes.data(), rest.data() + 13 + i * 40 + 8, 32);
      l.replay.push_back(w);
    }
    return l;
  }

  void discard() const { ::unlink(path_.c_str()); }

 private:
  void put(size_t at, const std::string& bytes) {
    if (::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(bytes.size())) {
      throw Error(kPermissionDenied, label_ + ": its journal " + path_.string() + " cannot be written, so nothing is written");
    }
  }

  fs::path path_;
  std::string label_;
  std::string header_;
  int fd_ = -1;
};

}  // namespace

// One image file as this process holds it, shared by every volume, reader
// and writer on it.
class FatImage {
 public:
  static std::shared_ptr<FatImage> get(const fs::path& path, const std::string& root, const std::string& shown);
  ~FatImage();

  std::recursive_mutex mutex;  // guards everything below; held around every call
  FileSystem& fs() { return *fs_; }
  dev_t dev() const { return dev_; }
  ino_t ino() const { return ino_; }
  bool writable() const { return fdWritable_ && modeWritable(fd_); }
  const std::string& label() const { return label_; }

  void hold(std::chrono::milliseconds timeout);
  void release();
  void releaseQuietly() noexcept {
    try {
      release();
    } catch (...) {
    }
  }

  FatImage(int fd, bool writable, const fs::path& path, const std::string& root, const std::string& label);

 private:
  void lock(std::chrono::milliseconds timeout);
  void endSession(bool whole);

  int fd_;
  bool fdWritable_;
  fs::path path_;
  std::string label_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::unique_ptr<FileDevice> device_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<FileSystem> fs_;
  int holds_ = 0;
  bool loaded_ = false;
  Stamp stamp_;
};

namespace {
std::mutex registryMutex;
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<FatImage>> registry;
}  // namespace

FatImage::FatImage(int fd, bool writable, const fs::path& path, const std::string& root, const std::string& label)
    : fd_(fd), fdWritable_(writable), path_(path), label_(label) {
  Stamp s = stampOf(fd);
  dev_ = s.dev;
  ino_ = s.ino;
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(path, ec);
  if (ec) canonical = path;
  device_ = std::make_unique<FileDevice>(fd_, label_, fdWritable_);
  journal_ = std::make_unique<Journal>(canonical.string() + ".journal", dev_, ino_, label_);
  fs_ = std::make_unique<FileSystem>(*device_, root, journal_.get());
}

FatImage::~FatImage() {
  ::close(fd_);
  std::lock_guard lock(registryMutex);
  auto it = registry.find({dev_, ino_});
  if (it != registry.end() && it->second.expired()) registry.erase(it);
}

std::shared_ptr<FatImage> FatImage::get(const fs::path& path, const std::string& root, const std::string& shown) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw Error(kDiskNotReady, shown);
  bool writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  int fd = writable ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
  if (fd < 0) {
    writable = false;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    if (errno == ENOENT) throw Error(kDiskNotReady, shown);
    throw Error(kDeviceError, errorDescription(kDeviceError),
                path.string() + ": cannot be opened: " + std::strerror(errno));
  }
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    ::close(fd);
    throw Error(kDeviceError, errorDescription(kDeviceError), path.string() + ": not a disk image file");
  }
  std::lock_guard lock(registryMutex);
  auto& slot = registry[{st.st_dev, st.st_ino}];
  if (auto alive = slot.lock()) {
    ::close(fd);
    return alive;
  }
  auto image = std::make_shared<FatImage>(fd, writable, path, root, path.string());
  slot = image;
  return image;
}

void FatImage::lock(std::chrono::milliseconds timeout) {
  int op = fdWritable_ ? LOCK_EX : LOCK_SH;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int waitMs = 1;
  while (::flock(fd_, op | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      throw Error(kDeviceError, errorDescription(kDeviceError), label_ + ": cannot be locked: " + std::strerror(errno));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw Error(kPermissionDenied, label_ + ": in use by another program");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    waitMs = std::min(waitMs * 2, 50);
  }
}

void FatImage::hold(std::chrono::milliseconds timeout) {
  if (holds_++ > 0) return;
  bool locked = false;
  try {
    if (!fdWritable_ && modeWritable(fd_)) {
      // Write protection taken off: the same file, opened for writing now.
      int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
      Stamp s = fd >= 0 ? stampOf(fd) : Stamp{};
      if (fd >= 0 && s.dev == dev_ && s.ino == ino_) {
        ::close(fd_);
        fd_ = fd;
        fdWritable_ = true;
        device_->setFd(fd_, true);
      } else if (fd >= 0) {
        ::close(fd);
      }
    }
    lock(timeout);
    locked = true;
    Stamp now = stampOf(fd_);
    // What an earlier session read stays only when nothing but we wrote since.
    if (!loaded_ || !(now == stamp_) || !stamp_.ours()) {
      loaded_ = false;
      fs_->load();
      loaded_ = true;
    }
    fs_->resetWrote();
    if (writable()) {
      Journal::Left left = journal_->read();
      if (left.exists && !left.ours) journal_->discard();  // made for another image
      if (left.ours) {
        loaded_ = false;
        fs_->setReadOnly(false);
        fs_->repair(left.replay);
        fs_->finish();
        journal_->finish();
        fs_->resetWrote();  // a later write of this session opens a journal of its own
        loaded_ = true;
      }
    }
  } catch (...) {
    holds_ = 0;
    loaded_ = false;
    if (locked) ::flock(fd_, LOCK_UN);
    throw;
  }
}

void FatImage::release() {
  if (holds_ == 0 || --holds_ > 0) return;
  try {
    fs_->finish();
  } catch (...) {
    endSession(false);
    throw;
  }
  endSession(true);
}

void FatImage::endSession(bool whole) {
  if (fs_->wroteThisSession() && whole) {
    // A stamp of our own, later than any before it: the next session can
    // tell that nothing else wrote after us.
    Stamp before = stampOf(fd_);
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    struct timespec floor = before.mtime;
    if (++floor.tv_nsec >= 1000000000) {
      floor.tv_nsec = 0;
      ++floor.tv_sec;
    }
    if (t.tv_sec < floor.tv_sec || (t.tv_sec == floor.tv_sec && t.tv_nsec < floor.tv_nsec)) t = floor;
    struct timespec times[2] = {{0, UTIME_OMIT}, t};
    bool set = ::futimens(fd_, times) == 0;
    stamp_ = stampOf(fd_);
    if (!set || stamp_.mtime.tv_sec != t.tv_sec || stamp_.mtime.tv_nsec != t.tv_nsec) loaded_ = false;
    journal_->finish();
  } else if (fs_->wroteThisSession()) {
    loaded_ = false;  // the journal stays for the next session to repair from
  } else {
    stamp_ = stampOf(fd_);
  }
  fs_->resetWrote();
  ::flock(fd_, LOCK_UN);
}

// --- readers and writers ------------------------------------------------------------

namespace {

class FatReader : public FileReader {
 public:
  FatReader(std::shared_ptr<FatImage> image, FileSystem::OpenFile file, std::chrono::milliseconds timeout)
      : image_(std::move(image)), file_(std::move(file)) {
    image_->hold(timeout);
    image_->fs().pin(file_.firstCluster);
  }
  ~FatReader() override {
    std::lock_guard lock(image_->mutex);
    image_->fs().unpin(file_.firstCluster);
    image_->releaseQuietly();
  }
  uint64_t size() const override { return file_.entry.size; }
  size_t readAt(uint64_t offset, void* buf, size_t n) override {
    if (offset >= file_.entry.size) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, file_.entry.size - offset));
    std::lock_guard lock(image_->mutex);
    image_->fs().readClusters(file_.clusters, offset, static_cast<uint8_t*>(buf), n);
    return n;
  }

 private:
  std::shared_ptr<FatImage> image_;
  FileSystem::OpenFile file_;
};

}  // namespace

class FatWriterImpl : public FileWriter {
 public:
  FatWriterImpl(std::shared_ptr<FatImage> image, std::vector<std::string> parts, std::string shown, NewFile file,
                bool readOnly, std::chrono::milliseconds timeout)
      : image_(std::move(image)), parts_(std::move(parts)), shown_(std::move(shown)), file_(file), readOnly_(readOnly) {
    image_->hold(timeout);
    uint64_t cs = image_->fs().geometry().clusterBytes();
    chunk_ = std::max<uint64_t>(cs, (1u << 20) / cs * cs);
  }
  ~FatWriterImpl() override { abort(); }

  void write(std::string_view bytes) override {
    std::lock_guard lock(image_->mutex);
    if (done_) throw Error(kInvalidCall, shown_);
    FileSystem& fs = image_->fs();
    fs.setReadOnly(readOnly_ || !image_->writable());
    uint64_t cs = fs.geometry().clusterBytes();
    size_t given = bytes.size();
    try {
      if (buf_.empty() && bytes.size() >= chunk_) {
        size_t n = static_cast<size_t>(bytes.size() / cs * cs);
        fs.append(chain_, reinterpret_cast<const uint8_t*>(bytes.data()), n, shown_);
        bytes.remove_prefix(n);
      }
      buf_.append(bytes);
      if (buf_.size() >= chunk_) {
        size_t n = static_cast<size_t>(buf_.size() / cs * cs);
        fs.append(chain_, reinterpret_cast<const uint8_t*>(buf_.data()), n, shown_);
        buf_.erase(0, n);
      }
    } catch (...) {
      fail();
      throw;
    }
    written_ += given;
  }

  uint64_t written() const override { return written_; }
  void commit() override { commitTogether({this}); }

  void describe(const NewFile& file) override { file_ = file; }
  void abort() override {
    std::lock_guard lock(image_->mutex);
    if (done_) return;
    image_->fs().release(chain_);
    done_ = true;
    buf_.clear();
    image_->releaseQuietly();
  }

  // Commits writers of one image as a set.
  static void commitTogether(const std::vector<FatWriterImpl*>& writers) {
    if (writers.empty()) return;
    std::shared_ptr<FatImage> image = writers.front()->image_;
    std::lock_guard lock(image->mutex);
    for (FatWriterImpl* w : writers) {
      if (w->image_ != image || w->done_) throw Error(kInvalidCall, w->shown_);
    }
    FileSystem& fs = image->fs();
    std::vector<FileSystem::Change> changes(writers.size());
    std::vector<FileSystem::Change*> pointers;
    try {
      for (size_t i = 0; i < writers.size(); ++i) {
        FatWriterImpl* w = writers[i];
        fs.setReadOnly(w->readOnly_ || !image->writable());
        fs.append(w->chain_, reinterpret_cast<const uint8_t*>(w->buf_.data()), w->buf_.size(), w->shown_);
        w->buf_.clear();
        changes[i].parts = w->parts_;
        changes[i].shown = w->shown_;
        changes[i].chain = std::move(w->chain_);
        w->chain_ = NewChain{};
        changes[i].attributes = w->file_.attributes;
        changes[i].modified = w->file_.modified;
        pointers.push_back(&changes[i]);
      }
      fs.commit(pointers);
    } catch (...) {
      for (auto& c : changes) fs.release(c.chain);
      for (FatWriterImpl* w : writers) w->fail();
      throw;
    }
    std::exception_ptr first;
    for (FatWriterImpl* w : writers) {
      w->done_ = true;
      try {
        image->release();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
    if (first) std::rethrow_exception(first);
  }

 private:
  void fail() {
    image_->fs().release(chain_);
    done_ = true;
    buf_.clear();
    image_->releaseQuietly();
  }

  std::shared_ptr<FatImage> image_;
  std::vector<std::string> parts_;
  std::string shown_;
  NewFile file_;
  bool readOnly_;
  NewChain chain_;
  std::string buf_;
  uint64_t chunk_ = 0;
  uint64_t written_ = 0;
  bool done_ = false;
};

// --- the volume --------------------------------------------------------------------

class FatVolume::Session {
 public:
  Session(FatImage& image, const FatVolumeOptions& o) : image_(image) {
    image_.hold(o.lockTimeout);
    image_.fs().setReadOnly(o.writeProtected || !image_.writable());
  }
  ~Session() {
    if (!ended_) image_.releaseQuietly();
  }
  void end() {
    ended_ = true;
    image_.release();
  }

 private:
  FatImage& image_;
  bool ended_ = false;
};

FatVolume::FatVolume(fs::path image, FatVolumeOptions options) : path_(std::move(image)), options_(std::move(options)) {}

FatVolume::~FatVolume() = default;

std::unique_ptr<FatVolume> FatVolume::openImage(const fs::path& image, FatVolumeOptions options) {
  std::unique_ptr<FatVolume> v(new FatVolume(image, std::move(options)));
  v->space();  // opens and checks it
  return v;
}

std::string FatVolume::label() const { return path_.string(); }

std::shared_ptr<FatImage> FatVolume::image(const std::string& shown) {
  std::lock_guard lock(imageMutex_);
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) throw Error(kDiskNotReady, shown);
  // Another file under the name is another disk in the drive.
  if (!image_ || image_->dev() != st.st_dev || image_->ino() != st.st_ino) {
    image_ = FatImage::get(path_, options_.root, shown);
  }
  return image_;
}

template <class F>
auto FatVolume::run(std::string_view path, F&& f) {
  std::string shown = volume::shown(options_.root, path);
  std::shared_ptr<FatImage> img = image(shown);
  std::lock_guard lock(img->mutex);
  Session s(*img, options_);
  std::vector<std::string> parts = volume::split(path, shown);
  if constexpr (std::is_void_v<decltype(f(img, parts, shown))>) {
    f(img, parts, shown);
    s.end();
  } else {
    auto result = f(img, parts, shown);
    s.end();
    return result;
  }
}

std::vector<FileEntry> FatVolume::walk(std::string_view path) {
  return run(path, [](auto& img, auto& parts, auto&) { return img->fs().walk(parts); });
}

std::vector<FileEntry> FatVolume::list(std::string_view folder) {
  return run(folder, [](auto& img, auto& parts, auto& shown) { return img->fs().list(parts, shown); });
}

std::unique_ptr<FileReader> FatVolume::open(std::string_view path) {
  return run(path, [&](auto& img, auto& parts, auto& shown) -> std::unique_ptr<FileReader> {
    return std::make_unique<FatReader>(img, img->fs().openFile(parts, shown), options_.lockTimeout);
  });
}

std::unique_ptr<FileWriter> FatVolume::create(std::string_view path, const NewFile& file) {
  return run(path, [&](auto& img, auto& parts, auto& shown) -> std::unique_ptr<FileWriter> {
    img->fs().checkCreate(parts, shown);
    return std::make_unique<FatWriterImpl>(img, parts, shown, file, options_.writeProtected, options_.lockTimeout);
  });
}

void FatVolume::commitSet(const std::vector<FileWriter*>& files) {
  std::vector<FatWriterImpl*> writers;
  for (FileWriter* f : files) {
    auto* w = dynamic_cast<FatWriterImpl*>(f);
    if (!w) throw Error(kInvalidCall, options_.root);
    writers.push_back(w);
  }
  FatWriterImpl::commitTogether(writers);
}

void FatVolume::writeInPlace(std::string_view path, std::string_view bytes, bool append) {
  run(path, [&](auto& img, auto& parts, auto& shown) { img->fs().writeInPlace(parts, shown, bytes, append); });
}

void FatVolume::makeFolder(std::string_view path) {
  run(path, [](auto& img, auto& parts, auto& shown) { img->fs().makeFolder(parts, shown); });
}

void FatVolume::removeFolder(std::string_view path) {
  run(path, [](auto& img, auto& parts, auto& shown) { img->fs().removeFolder(parts, shown); });
}

void FatVolume::remove(std::string_view path) {
  run(path, [](auto& img, auto& parts, auto& shown) { img->fs().remove(parts, shown); });
}

void FatVolume::rename(std::string_view from, std::string_view to, bool replace) {
  std::string shownTo = volume::shown(options_.root, to);
  std::vector<std::string> toParts = volume::split(to, shownTo);
  run(from, [&](auto& img, auto& parts, auto& shown) {
    if (parts.empty()) throw Error(kPathFileAccess, shown);
    if (toParts.empty()) throw Error(kPathFileAccess, shownTo);
    img->fs().rename(parts, shown, toParts, shownTo, replace);
  });
}

void FatVolume::setAttributes(std::string_view path, uint8_t attributes) {
  run(path, [&](auto& img, auto& parts, auto& shown) {
    if (parts.empty()) throw Error(kPathFileAccess, shown);
    img->fs().setAttributes(parts, shown, attributes);
  });
}

void FatVolume::setTimes(std::string_view path, const FileTimes& times) {
  run(path, [&](auto& img, auto& parts, auto& shown) {
    if (parts.empty()) throw Error(kPathFileAccess, shown);
    img->fs().setTimes(parts, shown, times);
  });
}

Space FatVolume::space() {
  return run("", [](auto& img, auto&, auto&) { return img->fs().space(); });
}

bool FatVolume::writeProtected() {
  // In a session, which opens the file for writing once its mode allows it.
  return run("", [&](auto& img, auto&, auto&) { return options_.writeProtected || !img->writable(); });
}

// --- formatting ----------------------------------------------------------------------

void createFloppyImage(const fs::path& path) {
  fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  fs::path temp = dir / temporaries::newName();
  int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  auto fail = [&](int err) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    if (err == ENOSPC || err == EDQUOT) throw Error(kDiskFull, path.string());
    throw Error(kPathFileAccess, errorDescription(kPathFileAccess),
                path.string() + ": cannot be written: " + std::strerror(err));
  };
  if (fd < 0) fail(errno);
  if (::ftruncate(fd, static_cast<off_t>(kFloppyBytes)) != 0) fail(errno);
  try {
    FileDevice d(fd, path.string(), true);
    formatFloppy(d, serialFromTime());
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  if (::fsync(fd) != 0) fail(errno);
  ::close(fd);
  fd = -1;
  if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno);
}

}  // namespace platform::fat
