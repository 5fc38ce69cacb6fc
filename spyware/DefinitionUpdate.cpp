#include "spyware/DefinitionUpdate.h"

#include <cstdio>

#include "platform/error.h"
#include "platform/files.h"
#include "spyware/FileConverter.h"

namespace spyware {

using Clock = std::chrono::steady_clock;
using platform::net::HttpTransfer;

namespace {

// How much later than asked the client may give up before the update stops
// waiting for it.
constexpr std::chrono::milliseconds kGrace{2000};

const char* reasonPhrase(long status) {
  switch (status) {
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
  }
}

}  // namespace

std::string secondsText(std::chrono::milliseconds t) {
  const long long ms = t.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
  char text[32];
  std::snprintf(text, sizeof text, "%.1f seconds", static_cast<double>(ms) / 1000.0);
  return text;
}

DefinitionFetch::DefinitionFetch(platform::net::Http& http, std::string baseUrl, UpdateLimits limits)
    : http_(http), base_(std::move(baseUrl)), limits_(limits), deadline_(Clock::now() + limits.time) {
  while (!base_.empty() && base_.back() == '/') base_.pop_back();
}

DefinitionFetch::~DefinitionFetch() = default;

std::string DefinitionFetch::url() const {
  return base_ + kDefinitionDownloads[next_ < kDefinitionDownloads.size() ? next_ : 0].urlPath;
}

bool DefinitionFetch::step(int waitMs) {
  if (done_) return false;
  if (!transfer_) start();
  if (done_) return false;
  if (!transfer_->step(waitMs)) {
    finish();
  } else if (Clock::now() > deadline_ + kGrace) {
    fail("the update did not finish within " + secondsText(limits_.time));
  }
  return !done_;
}

void DefinitionFetch::cancel() {
  if (!done_) fail("the update was cancelled");
}

void DefinitionFetch::start() {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
  if (left.count() <= 0) {
    fail("the update did not finish within " + secondsText(limits_.time));
    return;
  }
  std::string& file = files_[next_];
  file.clear();
  tooLarge_ = false;
  transfer_ = http_.get(url(), left.count(), [this, &file](std::string_view piece) {
    if (file.size() + piece.size() > limits_.maxFileBytes) {
      tooLarge_ = true;
      return false;
    }
    file.append(piece);
    received_ += piece.size();
    return true;
  });
}

void DefinitionFetch::finish() {
  const HttpTransfer& t = *transfer_;
  const std::string& file = files_[next_];
  switch (t.end()) {
    case HttpTransfer::End::Running:
    case HttpTransfer::End::Stopped:
      fail(tooLarge_ ? "the file is larger than " + sizeText(limits_.maxFileBytes) : "the download was stopped");
      return;
    case HttpTransfer::End::TimedOut: {
      std::string why = !t.connected()         ? "the server could not be reached"
                        : t.answerBytes() == 0 ? "the server did not answer"
                                               : "the server was still sending (" + std::to_string(file.size()) +
                                                     " bytes of this file had arrived)";
      fail("the update did not finish within " + secondsText(limits_.time) + ": " + why);
      return;
    }
    case HttpTransfer::End::Failed:
      fail("the transfer failed: " + t.error());
      return;
    case HttpTransfer::End::Complete:
      break;
  }
  if (t.status() != 200) {
    const std::string phrase = reasonPhrase(t.status());
    fail("the server answered " + std::to_string(t.status()) + (phrase.empty() ? "" : " " + phrase));
    return;
  }
  if (file.empty()) {
    fail("the server sent an empty file");
    return;
  }
  const auto kind = definitionKindOf(kDefinitionDownloads[next_].fileName);
  const CheckedDefinition checked = checkDefinition(*kind, ConvertString(file));
  if (checked.fault) {
    fail("it is not a spyware definition file: " + *checked.fault);
    return;
  }
  transfer_.reset();
  if (++next_ == kDefinitionDownloads.size()) done_ = true;
}

void DefinitionFetch::fail(std::string reason) {
  failedUrl_ = url();
  reason_ = std::move(reason);
  done_ = true;
  transfer_.reset();
  files_ = {};
}

ReplaceResult replaceDefinitionFiles(const platform::Machine& m, std::string_view utilFolder,
                                     const std::array<std::string, 3>& files) {
  struct Old {
    std::string path;
    bool existed = false;
    uint8_t attributes = platform::kArchive;
    std::string bytes;
  };
  std::array<Old, 3> old;
  ReplaceResult r;
  auto why = [](const platform::Error& e) { return e.detail() + " cannot be replaced (" + e.description() + ")"; };
  try {
    // Everything that can be known before the first file is replaced.
    for (size_t i = 0; i < old.size(); ++i) {
      old[i].path = std::string(utilFolder) + "\\" + kDefinitionDownloads[i].fileName;
      if (!platform::fileExists(m, old[i].path)) continue;
      old[i].existed = true;
      old[i].attributes = platform::getAttributes(m, old[i].path);
      if (old[i].attributes & platform::kReadOnly) throw platform::Error(platform::kPermissionDenied, old[i].path);
      old[i].bytes = platform::readFile(m, old[i].path);
    }
  } catch (const platform::Error& e) {
    r.error = why(e);
    return r;
  }
  for (size_t i = 0; i < old.size(); ++i) {
    try {
      platform::writeFileAtomic(m, old[i].path, files[i],
                                static_cast<uint8_t>(old[i].attributes | platform::kArchive));
    } catch (const platform::Error& e) {
      r.error = why(e);
      for (size_t j = 0; j < i; ++j) {
        try {
          if (old[j].existed) {
            platform::writeFileAtomic(m, old[j].path, old[j].bytes, old[j].attributes);
          } else {
            platform::deleteFile(m, old[j].path);
          }
        } catch (const platform::Error& back) {
          r.error += "; " + old[j].path + " could not be put back (" + back.description() + ")";
        }
      }
      return r;
    }
  }
  r.ok = true;
  return r;
}

}  // namespace spyware
