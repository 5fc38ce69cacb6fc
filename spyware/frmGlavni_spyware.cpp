// The Spyware screen of the main window: the list of known spyware, blocking
// and unblocking through the registry editor, the definition update, and
// the connection object.
#include <chrono>
#include <optional>
#include <string>

#include "app/frmGlavni.h"
#include "app/modReplaceFiles.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/lines.h"
#include "platform/net/internet.h"
#include "platform/text.h"
#include "shell/modAssociate.h"
#include "spyware/BlockRecord.h"
#include "spyware/DefinitionCheck.h"
#include "spyware/FileConverter.h"
#include "spyware/I_INTConnection.h"
#include "spyware/UpdateServer.h"

namespace app {

namespace {

using platform::kCrLf;

// The status walk over a script's lines: 5 ms a line as long as the pauses
// stay within their budget, and never longer than the limit in all, however
// long the script; later lines then pass at once.
constexpr int kLinePauseMs = 5;
constexpr int64_t kLinePauseBudgetMs = 4000;
constexpr int64_t kLineWalkLimitMs = 5000;
// The update waits this long at most for the network between two looks at
// the window, and shows how much has arrived this often.
constexpr int kNetworkWaitMs = 20;
constexpr std::chrono::milliseconds kProgressEvery{200};

constexpr const char* kRetrieving = "Retrieving spyware definition database ,please wait...";

std::string utilFile(const Context& ctx, const char* name) {
  return ctx.programFolder + "\\util\\" + name;
}

// A missing or empty definition file gives no plain form (the converter
// leaves nothing behind); the callers say so instead of failing later.
bool definitionPresent(const platform::Machine& m, const std::string& path) {
  try {
    return platform::fileExists(m, path) && platform::fileSize(m, path) > 0;
  } catch (const platform::Error&) {
    return false;
  }
}

void deleteQuietly(const platform::Machine& m, const std::string& path) {
  try {
    if (platform::fileExists(m, path)) platform::deleteFile(m, path);
  } catch (const platform::Error&) {
  }
}

// The last lines of what the registry editor wrote, without the line ends
// the message box would show twice.
std::string editorMessage(const std::string& output) {
  std::string text = output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  std::string crlf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf += '\r';
    crlf += text[i];
  }
  return crlf;
}

std::string errorText(const platform::Error& e) {
  return "Error # " + std::to_string(e.number()) + " " + e.description() + kCrLf + "With: " + e.detail();
}

// One spyware operation at a time: the update and the registry editor's
// wait let the window take clicks meanwhile.
class Busy {
 public:
  explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
  ~Busy() { flag_ = false; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void frmGlavni::FillSpywareList() {
  Context& ctx = context();
  const std::string enc = utilFile(ctx, "spylist.enc");
  const std::string dec = utilFile(ctx, "spylist.dec");
  txtSpyList->setText("");
  if (!definitionPresent(ctx.machine, enc)) {
    txtSpyList->setText(std::string(kCrLf) + "The spyware list file " + enc + " is missing or empty .");
    return;
  }
  try {
    spyware::ConvertFile(ctx.machine, enc, dec, [&ctx] { ctx.loop.doEvents(); });
    std::string text;
    for (const auto& line : platform::readLines(ctx.machine, dec)) text += kCrLf + line;
    txtSpyList->setText(text);
  } catch (const platform::Error& e) {
    txtSpyList->setText(std::string(kCrLf) + "The spyware list could not be read: " + e.what());
  }
  deleteQuietly(ctx.machine, dec);
}

void frmGlavni::cmdBlockSpy_Click() {
  importSpywareScript(true, "antispy.enc", "antispy.reg", "Disabling entry ",
                      "Spyware programs successfully disabled .");
}

void frmGlavni::cmdUndoSpy_Click() {
  importSpywareScript(false, "undospy.enc", "undospy.reg", "Removing entry ",
                      "Spyware protection successfully discarded .");
}

void frmGlavni::showScriptLines(const std::string& script, const char* statusPrefix) {
  platform::EventLoop& loop = context().loop;
  const int64_t start = loop.nowMs();
  int64_t paused = 0;
  for (const auto& line : platform::splitLines(script)) {
    if (loop.nowMs() - start >= kLineWalkLimitMs) break;
    SBar->setText(statusPrefix + line);
    if (paused + kLinePauseMs <= kLinePauseBudgetMs) {
      loop.sleep(kLinePauseMs);
      paused += kLinePauseMs;
    }
  }
  SBar->setText("");
}

// Decodes the script and checks that it only adds blocking entries (block)
// or only takes them away (unblock). The block first records how the
// registry holds what it is about to set; the unblock imports, in place of
// its script, what gives that back. The registry editor imports silently,
// each line shows in the status bar meanwhile, and the outcome is reported.
// The plain script is removed in every case once the editor is done.
void frmGlavni::importSpywareScript(bool block, const char* encName, const char* regName,
                                    const char* statusPrefix, const char* successText) {
  if (spywareBusy) return;
  Busy busy(spywareBusy);
  Context& ctx = context();
  const std::string enc = utilFile(ctx, encName);
  const std::string reg = utilFile(ctx, regName);
  const std::string recordFile = utilFile(ctx, spyware::kBlockRecordFile);
  const std::string nothingImported = std::string(kCrLf) + "Nothing was imported into the registry .";
  if (!definitionPresent(ctx.machine, enc)) {
    program().msgBox("The spyware definition file " + enc + " is missing or empty ." + nothingImported,
                     MsgIcon::Exclamation);
    return;
  }

  std::string script;
  spyware::BlockRecord record;
  std::optional<std::string> recordBefore;  // the record file as it was, when there was one
  bool recorded = false;                     // the block added to the record
  try {
    if (platform::fileSize(ctx.machine, enc) > spyware::kMaxDefinitionBytes) {
      program().msgBox("The spyware definition file " + enc + " cannot be used: it is larger than " +
                           spyware::sizeText(spyware::kMaxDefinitionBytes) + " ." + nothingImported,
                       MsgIcon::Exclamation);
      return;
    }
    spyware::ConvertFile(ctx.machine, enc, reg, [&ctx] { ctx.loop.doEvents(); });
    script = platform::readFile(ctx.machine, reg);
    const auto checked = spyware::checkDefinition(
        block ? spyware::DefinitionKind::BlockScript : spyware::DefinitionKind::UnblockScript, script);
    if (checked.fault) {
      deleteQuietly(ctx.machine, reg);
      program().msgBox("The spyware definition file " + enc + " cannot be used: " + *checked.fault + " ." +
                           nothingImported,
                       MsgIcon::Exclamation);
      return;
    }
    if (platform::fileExists(ctx.machine, recordFile)) {
      recordBefore = platform::readFile(ctx.machine, recordFile);
      record = spyware::BlockRecord::parse(*recordBefore);
    }
    if (block) {
      recorded = spyware::recordBefore(ctx.registry, checked.entries, record);
      if (recorded) platform::writeFileAtomic(ctx.machine, recordFile, record.text());
    } else {
      const spyware::UnblockPlan plan = spyware::planUnblock(ctx.registry, checked.entries, record);
      for (const auto& e : plan.handled) record.remove(e);
      script = plan.script;
      platform::writeFileAtomic(ctx.machine, reg, script);
    }
  } catch (const platform::Error& e) {
    program().msgBox(errorText(e), MsgIcon::Critical, "Error:");
    deleteQuietly(ctx.machine, reg);
    return;
  }

  platform::JobId job;
  const bool started = shell::ImportRegFile(program(), ShortPath(ctx.machine, reg), &job);
  showScriptLines(script, statusPrefix);

  int status = -1;
  std::string output;
  if (started) {
    while (!ctx.launcher.wait(job, 50)) ctx.loop.doEvents();
    status = ctx.launcher.exitStatus(job).value_or(-1);
    if (const platform::HWND w = ctx.windows.find("Finished - regedit", job)) {
      if (auto finished = ctx.windows.get(w)) output = finished->output;
      ctx.windows.postClose(w);
    }
  }
  deleteQuietly(ctx.machine, reg);

  // The record follows the registry: a block that did not happen leaves it
  // as it was, an unblock that did drops what it gave back.
  const bool imported = started && status == 0;
  try {
    if (block && recorded && !imported) {
      if (recordBefore) {
        platform::writeFileAtomic(ctx.machine, recordFile, *recordBefore);
      } else {
        deleteQuietly(ctx.machine, recordFile);
      }
    } else if (!block && imported) {
      if (record.empty()) {
        deleteQuietly(ctx.machine, recordFile);
      } else {
        platform::writeFileAtomic(ctx.machine, recordFile, record.text());
      }
    }
  } catch (const platform::Error&) {
    // What stays in the record is only used where the blocking values
    // are still in place.
  }

  if (!started) return;  // ImportRegFile has said why
  if (status != 0) {
    std::string text = "The registry editor could not import " + reg + " (exit status " +
                       std::to_string(status) + ") .";
    const std::string message = editorMessage(output);
    if (!message.empty()) text += kCrLf + message;
    program().msgBox(text, MsgIcon::Critical);
    return;
  }
  program().msgBox(successText, MsgIcon::Information);
}

void frmGlavni::cmdInternetUpdate_Click() {
  if (spywareBusy) return;
  Busy busy(spywareBusy);
  Context& ctx = context();
  bool connected = false;
  try {
    connected = connection != nullptr && connection->Connected();
  } catch (const spyware::ComponentError& e) {
    program().msgBox("Error # " + std::to_string(e.number()) + " " + e.description() + kCrLf +
                         "From: " + e.source(),
                     MsgIcon::Critical, "Error:");
    return;
  }
  if (!connected) {
    program().msgBox("Please ,connect to internet to proceed .", MsgIcon::Information,
                     "No internet connection");
    return;
  }
  const std::string notUpdated = "The spyware definition database was not updated .";
  const std::string kept = std::string(kCrLf) + "Your current definitions are kept .";
  if (ctx.http == nullptr) {
    program().msgBox(notUpdated + kCrLf + "This computer has no HTTP client ." + kept, MsgIcon::Exclamation);
    return;
  }
  SBar->setText(kRetrieving);
  spyware::DefinitionFetch fetch(*ctx.http, spyware::updateServer(ctx.machine), updateLimits);
  // The transfer moves on in small steps; in between, the window paints and
  // the status line shows how much has arrived.
  uint64_t shown = 0;
  auto lastShown = std::chrono::steady_clock::now();
  while (fetch.step(kNetworkWaitMs)) {
    const auto now = std::chrono::steady_clock::now();
    if (fetch.received() != shown && now - lastShown >= kProgressEvery) {
      shown = fetch.received();
      lastShown = now;
      SBar->setText(std::string(kRetrieving) + " " + std::to_string(shown) + " bytes received");
    }
    ctx.loop.doEvents();
    if (!loaded()) {  // the window was closed meanwhile
      fetch.cancel();
      return;
    }
  }
  SBar->setText("");
  if (!fetch.ok()) {
    program().msgBox(notUpdated + kCrLf + "Download of " + fetch.failedUrl() + " failed: " + fetch.reason() +
                         " ." + kept,
                     MsgIcon::Exclamation);
    return;
  }
  const auto replaced =
      spyware::replaceDefinitionFiles(ctx.machine, ctx.programFolder + "\\util", fetch.files());
  if (!replaced.ok) {
    program().msgBox(notUpdated + kCrLf + replaced.error + " ." + kept, MsgIcon::Exclamation);
    return;
  }
  program().msgBox("Spyware definition database successfuly updated .", MsgIcon::None);
}

void frmGlavni::createConnection() {
  static platform::net::NoInternet none;
  Context& ctx = context();
  connection = std::make_unique<spyware::I_INTConnection>(ctx.internet ? *ctx.internet : none, ctx.exeName);
}

void frmGlavni::dropConnection() { connection.reset(); }

}  // namespace app
