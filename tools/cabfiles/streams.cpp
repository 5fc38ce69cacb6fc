#include "tools/cabfiles/streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cab/error.h"

namespace cabfiles {

namespace {

constexpr size_t kWindow = 256 << 10;

// Bytes gathered into buffer, which drain empties whenever it holds a
// window's worth; written counts them all.
template <class Drain>
void appendBuffered(std::string& buffer, uint64_t& written, const void* bytes, size_t n, Drain drain) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    size_t k = std::min(n, kWindow - buffer.size());
    buffer.append(p, k);
    written += k;
    p += k;
    n -= k;
    if (buffer.size() == kWindow) drain();
  }
}

std::string sysError(const std::string& what, const std::string& label) {
  return what + " " + label + ": " + std::strerror(errno);
}

}  // namespace

// --- ReaderInStream ------------------------------------------------------------

ReaderInStream::ReaderInStream(std::unique_ptr<platform::FileReader> reader, std::string label)
    : reader_(std::move(reader)), label_(std::move(label)) {
  size_ = reader_->size();
}

size_t ReaderInStream::readAt(char* buf, size_t n, uint64_t at) {
  try {
    return reader_->readAt(at, buf, n);
  } catch (const platform::Error& e) {
    throw cab::CabError("cannot read " + label_ + ": " + e.what());
  }
}

// --- SpoolOutStream ------------------------------------------------------------

SpoolOutStream::SpoolOutStream(std::string label) : label_(std::move(label)) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    std::string name = dir + "/brakvel-cabinet-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(name.c_str());
  }
  if (fd_ < 0) throw cab::CabError(sysError("cannot make a temporary file in " + dir + " for", label_));
  buf_.reserve(kWindow);
}

SpoolOutStream::~SpoolOutStream() {
  if (fd_ >= 0) ::close(fd_);
}

void SpoolOutStream::drain() {
  for (size_t done = 0; done < buf_.size();) {
    ssize_t r = ::pwrite(fd_, buf_.data() + done, buf_.size() - done,
                         static_cast<off_t>(written_ - buf_.size() + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw cab::CabError(sysError("cannot write the temporary file of", label_));
    done += static_cast<size_t>(r);
  }
  buf_.clear();
}

void SpoolOutStream::write(const void* buf, size_t n) {
  appendBuffered(buf_, written_, buf, n, [&] { drain(); });
}

void SpoolOutStream::patch(uint64_t pos, const void* buf, size_t n) {
  if (pos + n > written_) throw cab::CabError("patch beyond the end of " + label_);
  drain();
  for (size_t done = 0; done < n;) {
    ssize_t r = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done, static_cast<off_t>(pos + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw cab::CabError(sysError("cannot write the temporary file of", label_));
    done += static_cast<size_t>(r);
  }
}

void SpoolOutStream::copyTo(const std::function<void(std::string_view)>& put) {
  drain();
  std::string piece(kWindow, '\0');
  for (uint64_t at = 0; at < written_;) {
    ssize_t r = ::pread(fd_, piece.data(), piece.size(), static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw cab::CabError(sysError("cannot read the temporary file of", label_));
    if (r == 0) throw cab::CabError("the temporary file of " + label_ + " is shorter than written");
    put(std::string_view(piece.data(), static_cast<size_t>(r)));
    at += static_cast<uint64_t>(r);
  }
}

// --- SetOutStream --------------------------------------------------------------

void SetOutStream::drain() {
  if (buf_.empty()) return;
  try {
    set_.write(i_, buf_);
  } catch (const platform::Error& e) {
    failure_ = e;
    buf_.clear();
    throw;
  }
  buf_.clear();
}

void SetOutStream::write(const void* buf, size_t n) {
  if (failure_) throw *failure_;
  if (buf_.capacity() < kWindow) buf_.reserve(kWindow);
  appendBuffered(buf_, written_, buf, n, [&] { drain(); });
}

void SetOutStream::patch(uint64_t, const void*, size_t) {
  throw cab::CabError(set_.path(i_) + " is written front to back; it cannot be changed behind");
}

void SetOutStream::flush() {
  if (failure_) throw *failure_;
  drain();
}

}  // namespace cabfiles
