#include "cab/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cab/error.h"

namespace cab {

size_t MemoryInStream::read(void* buf, size_t n) {
  if (pos_ >= bytes_.size()) return 0;
  size_t k = std::min<uint64_t>(n, bytes_.size() - pos_);
  std::memcpy(buf, bytes_.data() + pos_, k);
  pos_ += k;
  return k;
}

void MemoryOutStream::write(const void* buf, size_t n) {
  bytes_.append(static_cast<const char*>(buf), n);
}

void MemoryOutStream::patch(uint64_t pos, const void* buf, size_t n) {
  if (pos + n > bytes_.size()) throw CabError("patch beyond the end of the output");
  std::memcpy(bytes_.data() + pos, buf, n);
}

namespace {
std::string sysError(const std::string& what, const std::string& label) {
  return what + " " + label + ": " + std::strerror(errno);
}
}  // namespace

FileInStream::FileInStream(const std::filesystem::path& path, std::string label)
    : label_(label.empty() ? path.string() : std::move(label)) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw CabError(sysError("cannot open", label_));
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    ::close(fd_);
    throw CabError(sysError("cannot read", label_));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd_);
    throw CabError("cannot read " + label_ + ": it is a folder");
  }
  size_ = static_cast<uint64_t>(st.st_size);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileInStream::~FileInStream() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileInStream::readAt(char* buf, size_t n, uint64_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, buf + done, n - done, static_cast<off_t>(at + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw CabError(sysError("cannot read", label_));
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

size_t WindowedInStream::read(void* buf, size_t n) {
  constexpr size_t kWindow = 256 << 10;
  char* out = static_cast<char*>(buf);
  size_t done = 0;
  while (done < n) {
    if (pos_ >= windowAt_ && pos_ < windowAt_ + window_.size()) {
      size_t k = std::min<uint64_t>(n - done, windowAt_ + window_.size() - pos_);
      std::memcpy(out + done, window_.data() + (pos_ - windowAt_), k);
      done += k;
      pos_ += k;
      continue;
    }
    if (n - done >= kWindow) {  // large reads go straight to the caller
      size_t r = readAt(out + done, n - done, pos_);
      done += r;
      pos_ += r;
      break;
    }
    window_.resize(kWindow);
    window_.resize(readAt(window_.data(), kWindow, pos_));
    windowAt_ = pos_;
    if (window_.empty()) break;
  }
  return done;
}

namespace {
constexpr size_t kBuffer = 256 << 10;
constexpr size_t kQueued = 4;           // buffers waiting for the writing thread
constexpr uint64_t kWriteBack = 2 << 20;  // start write-back every this many bytes
}  // namespace

struct FileOutStream::Behind {
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::string> queue;
  std::vector<std::string> spare;  // emptied buffers, reused
  bool busy = false;               // a buffer is being written
  bool syncWanted = false, synced = false, stop = false;
  std::string error;               // the first failure, for the caller
  std::thread thread;
};

FileOutStream::FileOutStream(int fd, std::string label) : fd_(fd), label_(std::move(label)) {
  buf_.reserve(kBuffer);
}

FileOutStream::~FileOutStream() {
  if (behind_) {
    {
      std::lock_guard<std::mutex> lock(behind_->m);
      behind_->stop = true;
    }
    behind_->cv.notify_all();
    behind_->thread.join();
  }
  if (fd_ >= 0) ::close(fd_);
}

void FileOutStream::ensureBehind() {
  if (behind_) return;
  behind_ = std::make_unique<Behind>();
  behind_->thread = std::thread([this] { writeBehind(); });
}

std::string FileOutStream::writeChunk(std::string_view chunk) {
  for (size_t done = 0; done < chunk.size();) {
    ssize_t r = ::write(fd_, chunk.data() + done, chunk.size() - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return sysError("cannot write", label_);
    }
    done += static_cast<size_t>(r);
  }
  filePos_ += chunk.size();
  if (filePos_ - started_ >= kWriteBack) {
    ::sync_file_range(fd_, static_cast<off_t>(started_), static_cast<off_t>(filePos_ - started_),
                      SYNC_FILE_RANGE_WRITE);
    started_ = filePos_;
  }
  return {};
}

// The writing thread: the queued buffers in order, then the sync when it is
// asked for. After a failure it only empties the queue.
void FileOutStream::writeBehind() {
  Behind* b = behind_.get();
  std::unique_lock<std::mutex> lock(b->m);
  for (;;) {
    b->cv.wait(lock, [b] { return b->stop || !b->queue.empty() || (b->syncWanted && !b->synced); });
    std::string error;
    if (!b->queue.empty()) {
      std::string chunk = std::move(b->queue.front());
      b->queue.pop_front();
      b->busy = true;
      const bool failed = !b->error.empty();
      lock.unlock();
      if (!failed) error = writeChunk(chunk);
      chunk.clear();
      lock.lock();
      b->spare.push_back(std::move(chunk));
      b->busy = false;
    } else if (b->stop) {
      return;
    } else {
      const bool failed = !b->error.empty();
      lock.unlock();
      if (!failed && ::fdatasync(fd_) != 0) error = sysError("cannot write", label_);
      lock.lock();
      b->synced = true;
    }
    if (b->error.empty()) b->error = error;
    b->cv.notify_all();
  }
}

// Waits until the queue has room (or is empty and written, forFlush);
// rethrows the writing thread's failure.
void FileOutStream::wait(bool forFlush) {
  Behind* b = behind_.get();
  std::unique_lock<std::mutex> lock(b->m);
  b->cv.wait(lock, [&] {
    if (!b->error.empty()) return true;
    if (forFlush) return b->queue.empty() && !b->busy;
    return b->queue.size() < kQueued;
  });
  if (!b->error.empty()) throw CabError(b->error);
}

void FileOutStream::drain() {
  if (buf_.empty()) return;
  ensureBehind();
  wait(false);
  std::string next;
  {
    std::lock_guard<std::mutex> lock(behind_->m);
    behind_->queue.push_back(std::move(buf_));
    if (!behind_->spare.empty()) {
      next = std::move(behind_->spare.back());
      behind_->spare.pop_back();
    }
  }
  behind_->cv.notify_all();
  buf_ = std::move(next);
  buf_.clear();
  buf_.reserve(kBuffer);
}

void FileOutStream::write(const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  written_ += n;
  while (n > 0) {
    size_t k = std::min(n, kBuffer - buf_.size());
    buf_.append(p, k);
    p += k;
    n -= k;
    if (buf_.size() == kBuffer) drain();
  }
}

void FileOutStream::patch(uint64_t pos, const void* buf, size_t n) {
  drain();
  if (behind_) wait(true);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                         static_cast<off_t>(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw CabError(sysError("cannot write", label_));
    }
    done += static_cast<size_t>(r);
  }
}

void FileOutStream::startFlush() {
  drain();
  ensureBehind();
  {
    std::lock_guard<std::mutex> lock(behind_->m);
    behind_->syncWanted = true;
  }
  behind_->cv.notify_all();
}

void FileOutStream::flush() {
  startFlush();
  Behind* b = behind_.get();
  std::unique_lock<std::mutex> lock(b->m);
  b->cv.wait(lock, [b] { return b->synced && b->queue.empty() && !b->busy; });
  if (!b->error.empty()) throw CabError(b->error);
}

}  // namespace cab
