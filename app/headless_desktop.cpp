#include "app/headless_desktop.h"

#include "app/form.h"
#include "platform/text.h"

namespace app {

HeadlessDesktop::HeadlessDesktop() = default;
HeadlessDesktop::~HeadlessDesktop() = default;

std::string HeadlessDesktop::escape(std::string_view ansi) {
  std::string out;
  for (char c : platform::ansiToUtf8(ansi)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void HeadlessDesktop::addLine(std::string line) {
  lines.push_back(line);
  if (onLine) onLine(line);
}

namespace {
// Captions compared without the access-key ampersand and without case.
std::string plainCaption(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '&') out += platform::lowerAnsi(c);
  return out;
}
}  // namespace

int HeadlessDesktop::messageBox(std::string_view text, std::string_view title, MsgIcon icon, int buttons) {
  addLine("message: " + escape(title) + " | " + msgIconName(icon) + " | " + escape(text));
  if (onMessage) onMessage(std::string(title), icon, std::string(text));
  std::vector<int> choices = messageButtons(buttons);
  if (answers.empty()) return choices.front();
  std::string answer = answers.front();
  answers.pop_front();
  for (int c : choices)
    if (plainCaption(msgResultCaption(c)) == plainCaption(answer)) return c;
  std::string offered;
  for (int c : choices) offered += std::string(offered.empty() ? "" : ", ") + msgResultCaption(c);
  throw AnswerError("the message box \"" + escape(title) + "\" has no button \"" + answer +
                    "\" (it offers " + offered + ")");
}

void HeadlessDesktop::formLoaded(Form& form) {
  form.subscribe([this](Form& f, Control* c, Change what) {
    if (!c || !f.loaded()) return;
    if (c->kind() == ControlKind::StatusBar && what == Change::Text) addLine("status: " + escape(c->text()));
    if (c->kind() == ControlKind::Frame && what == Change::ZOrder) addLine("screen: " + c->name());
  });
}

void HeadlessDesktop::answerForm(Form& form, const std::string& answer) {
  const std::string want = plainCaption(answer);
  for (const auto& c : form.controls()) {
    if (c->kind() == ControlKind::Button && plainCaption(c->text()) == want) {
      if (!c->enabled()) throw AnswerError("the button \"" + answer + "\" on " + form.name() + " is disabled");
      c->userClick();
      return;
    }
  }
  for (const auto& c : form.controls()) {
    if (c->kind() == ControlKind::OptionButton && plainCaption(c->text()) == want) {
      c->userClick();
      Control* finish = form.defaultButton();
      if (!finish) throw AnswerError(form.name() + " has no button to press after choosing \"" + answer + "\"");
      finish->userClick();
      return;
    }
  }
  throw AnswerError(form.name() + " has no button or option \"" + answer + "\"");
}

void HeadlessDesktop::showForm(Form& form, bool modal) {
  if (!shown_.count(&form)) {
    shown_.insert(&form);
    addLine("dialog: " + form.name());
  }
  if (!modal) return;
  if (!answers.empty()) {
    std::string answer = answers.front();
    answers.pop_front();
    answerForm(form, answer);
  }
  if (form.loaded() && form.visible()) runModal(form);
}

void HeadlessDesktop::runModal(Form& form) {
  if (onModal) onModal(form);
}

void HeadlessDesktop::hideForm(Form& form) { shown_.erase(&form); }

void HeadlessDesktop::formUnloaded(Form& form) { shown_.erase(&form); }

void HeadlessDesktop::showHelp(std::string_view, int context) { addLine("help: " + std::to_string(context)); }

void HeadlessDesktop::showHelpContents(std::string_view) { addLine("help: contents"); }

void HeadlessDesktop::programStarted(std::string_view commandLine, platform::WindowStyle style) {
  addLine(std::string("start: ") + platform::windowStyleName(style) + " " + escape(commandLine));
}

void HeadlessDesktop::programEnded() { addLine("exit"); }

}  // namespace app
