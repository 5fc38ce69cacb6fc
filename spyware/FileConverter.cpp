#include "spyware/FileConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace spyware {

namespace fs = std::filesystem;

void convertInPlace(char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(255 - static_cast<unsigned char>(bytes[i]));
  }
}

std::string ConvertString(std::string_view bytes) {
  std::string out(bytes);
  convertInPlace(out.data(), out.size());
  return out;
}

namespace {

[[noreturn]] void fail(ConvertError::Kind kind, const fs::path& file, const char* what, int err) {
  throw ConvertError(kind, file, err, std::string(what) + " " + file.string() + ": " + std::strerror(err));
}

// A temporary file beside the destination, removed again unless committed.
class TempFile {
 public:
  explicit TempFile(const fs::path& destination) : destination_(destination) {
    std::string pattern =
        (destination.parent_path() / ("." + destination.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
      fail(ConvertError::Kind::Open, destination, "cannot create a temporary file for", errno);
    }
    path_ = pattern;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void write(const char* data, std::size_t length) {
    while (length > 0) {
      ssize_t n = ::write(fd_, data, length);
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(ConvertError::Kind::Write, destination_, "cannot write", errno);
      }
      data += n;
      length -= static_cast<std::size_t>(n);
    }
  }

  void commit() {
    // mkstemp makes 0600; take the replaced file's permissions instead.
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(destination_.c_str(), &st) == 0) mode = st.st_mode & 07777;
    ::fchmod(fd_, mode);
    int err = ::fsync(fd_) == 0 ? 0 : errno;
    if (::close(fd_) != 0 && err == 0) err = errno;
    fd_ = -1;
    if (err != 0) fail(ConvertError::Kind::Write, destination_, "cannot write", err);
    if (::rename(path_.c_str(), destination_.c_str()) != 0) {
      fail(ConvertError::Kind::Write, destination_, "cannot replace", errno);
    }
    committed_ = true;
  }

 private:
  fs::path destination_;
  fs::path path_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace

void convertHostFile(const fs::path& source, const fs::path& destination, const YieldFn& yield) {
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return;

  std::ifstream in(source, std::ios::binary);
  if (!in) {
    fail(ConvertError::Kind::Open, source, "cannot open", errno);
  }
  in.seekg(0, std::ios::end);
  const auto length = static_cast<std::uintmax_t>(in.tellg());
  in.seekg(0, std::ios::beg);
  if (length == 0) return;

  // A read-only destination (no owner write bit, the DOS read-only
  // attribute) refuses to be replaced, as on Windows, also for root.
  struct stat st {};
  if (::stat(destination.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
    fail(ConvertError::Kind::Open, destination, "cannot open", EACCES);
  }

  TempFile out(destination);
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uintmax_t>(length, kChunkSize)));
  auto piece = [&](std::size_t size) {
    if (size == 0) return;
    if (!in.read(buffer.data(), static_cast<std::streamsize>(size))) {
      fail(ConvertError::Kind::Read, source, "cannot read", EIO);
    }
    convertInPlace(buffer.data(), size);
    out.write(buffer.data(), size);
  };

  if (length <= kChunkSize) {
    piece(static_cast<std::size_t>(length));
  } else {
    const std::uintmax_t chunks = length / kChunkSize;
    const auto rest = static_cast<std::size_t>(length - chunks * kChunkSize);
    for (std::uintmax_t i = 0; i < chunks; ++i) {
      if (yield) yield();
      piece(kChunkSize);
    }
    piece(rest);
  }
  in.close();
  out.commit();
}

}  // namespace spyware
