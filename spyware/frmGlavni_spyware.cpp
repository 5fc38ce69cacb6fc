// The Spyware screen of the main window: the list of known spyware, blocking
// and unblocking through the registry editor, the definition update, and
// the connection object.
#include <string>

#include "app/frmGlavni.h"
#include "app/modReplaceFiles.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "shell/modAssociate.h"
#include "spyware/FileConverter.h"
#include "spyware/HostInternet.h"
#include "spyware/I_INTConnection.h"
#include "spyware/UpdateServer.h"

namespace app {

namespace {

using platform::kCrLf;

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
  importSpywareScript("antispy.enc", "antispy.reg", "Disabling entry ",
                      "Spyware programs successfully disabled .");
}

void frmGlavni::cmdUndoSpy_Click() {
  importSpywareScript("undospy.enc", "undospy.reg", "Removing entry ",
                      "Spyware protection successfully discarded .");
}

// Decodes the script, has the registry editor import it silently, shows each
// line in the status bar meanwhile, waits for the editor, and reports what
// it did. The plain script is removed in every case once the editor is done.
void frmGlavni::importSpywareScript(const char* encName, const char* regName,
                                    const char* statusPrefix, const char* successText) {
  Context& ctx = context();
  const std::string enc = utilFile(ctx, encName);
  const std::string reg = utilFile(ctx, regName);
  if (!definitionPresent(ctx.machine, enc)) {
    program().msgBox("The spyware definition file " + enc + " is missing or empty ." + kCrLf +
                         "Nothing was imported into the registry .",
                     MsgIcon::Exclamation);
    return;
  }
  try {
    spyware::ConvertFile(ctx.machine, enc, reg, [&ctx] { ctx.loop.doEvents(); });
  } catch (const platform::Error& e) {
    program().msgBox("Error # " + std::to_string(e.number()) + " " + e.description() + kCrLf +
                         "With: " + e.detail(),
                     MsgIcon::Critical, "Error:");
    deleteQuietly(ctx.machine, reg);
    return;
  }

  platform::JobId job;
  const bool started = shell::ImportRegFile(program(), ShortPath(ctx.machine, reg), &job);

  std::vector<std::string> lines;
  try {
    lines = platform::readLines(ctx.machine, reg);
  } catch (const platform::Error&) {
  }
  for (const auto& line : lines) {
    SBar->setText(statusPrefix + line);
    ctx.loop.sleep(5);
  }
  SBar->setText("");

  if (!started) {  // ImportRegFile has said why
    deleteQuietly(ctx.machine, reg);
    return;
  }
  while (!ctx.launcher.wait(job, 50)) ctx.loop.doEvents();
  const int status = ctx.launcher.exitStatus(job).value_or(-1);
  std::string output;
  if (const platform::HWND w = ctx.windows.find("Finished - regedit", job)) {
    if (auto finished = ctx.windows.get(w)) output = finished->output;
    ctx.windows.postClose(w);
  }
  deleteQuietly(ctx.machine, reg);
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
  SBar->setText("Retrieving spyware definition database ,please wait...");
  const spyware::UpdateResult r = spyware::updateDefinitions(ctx.machine, ctx.programFolder);
  SBar->setText("");
  if (!r.ok) {
    program().msgBox(std::string("The spyware definition database was not updated .") + kCrLf +
                         "Download of " + r.failedUrl + " failed: " + r.reason + " ." + kCrLf +
                         "Your current definitions are kept .",
                     MsgIcon::Exclamation);
    return;
  }
  program().msgBox("Spyware definition database successfuly updated .", MsgIcon::None);
}

void frmGlavni::createConnection() {
  internet = std::make_unique<spyware::HostInternet>(context().machine);
  connection = std::make_unique<spyware::I_INTConnection>(*internet, context().exeName);
}

void frmGlavni::dropConnection() {
  connection.reset();
  internet.reset();
}

}  // namespace app
