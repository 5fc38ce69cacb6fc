#include "ui/script/ScriptRunner.h"

#include <algorithm>
#include <cctype>

#include "app/frmGlavni.h"
#include "platform/text.h"

namespace script {

std::atomic<bool> ScriptRunner::closeRequested{false};

namespace {

// A failure already tied to its script line.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// First word, and the rest after one blank.
void splitWord(const std::string& s, std::string& word, std::string& rest) {
  size_t sp = s.find(' ');
  if (sp == std::string::npos) {
    word = s;
    rest.clear();
  } else {
    word = s.substr(0, sp);
    rest = s.substr(sp + 1);
  }
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string unescapeText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char n = text[i + 1];
      if (n == 'r') { out += '\r'; ++i; continue; }
      if (n == 'n') { out += '\n'; ++i; continue; }
      if (n == 't') { out += '\t'; ++i; continue; }
      if (n == '\\') { out += '\\'; ++i; continue; }
    }
    out += text[i];
  }
  return platform::utf8ToAnsi(out);
}

// --- desktop ---------------------------------------------------------------

void ScriptDesktop::showForm(app::Form& form, bool modal) {
  stack.erase(std::remove(stack.begin(), stack.end(), &form), stack.end());
  stack.push_back(&form);
  app::HeadlessDesktop::showForm(form, modal);
}

void ScriptDesktop::hideForm(app::Form& form) {
  stack.erase(std::remove(stack.begin(), stack.end(), &form), stack.end());
  app::HeadlessDesktop::hideForm(form);
}

void ScriptDesktop::formUnloaded(app::Form& form) {
  stack.erase(std::remove(stack.begin(), stack.end(), &form), stack.end());
  app::HeadlessDesktop::formUnloaded(form);
}

void ScriptDesktop::runModal(app::Form& form) {
  if (runner) runner->runWhileOpen(form);
}

// --- runner ----------------------------------------------------------------

ScriptRunner::ScriptRunner(app::Program& program, ScriptDesktop& desktop, platform::PlainLoop& loop,
                           std::vector<std::string> lines, std::ostream& out)
    : program_(program), desktop_(desktop), loop_(loop), lines_(std::move(lines)), out_(out) {
  desktop_.runner = this;
  desktop_.onLine = [this](const std::string& line) { out_ << line << '\n' << std::flush; };
}

int ScriptRunner::run() {
  try {
    try {
      program_.start();
      pump();
      while (step()) {
      }
    } catch (const app::AnswerError& e) {
      throw LineError(std::string("line ") + std::to_string(next_) + ": " + e.what());
    } catch (const platform::Error& e) {
      throw LineError(std::string("line ") + std::to_string(next_) + ": " + e.what());
    }
  } catch (const LineError& e) {
    out_ << "error: " << e.what() << '\n' << std::flush;
    return 1;
  }
  return 0;
}

void ScriptRunner::runWhileOpen(app::Form& form) {
  while (form.loaded() && form.visible() && !program_.ended() && step()) {
  }
}

bool ScriptRunner::step() {
  while (next_ < lines_.size()) {
    std::string line = lines_[next_++];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = trimmed(line);
    if (t.empty() || t[0] == '#') continue;
    size_t number = next_;
    try {
      execute(t);
      pump();
    } catch (const ScriptError& e) {
      throw LineError("line " + std::to_string(number) + ": " + e.what());
    } catch (const app::AnswerError& e) {
      throw LineError("line " + std::to_string(number) + ": " + e.what());
    }
    return true;
  }
  return false;
}

void ScriptRunner::pump() {
  loop_.doEvents();
  if (closeRequested.exchange(false)) program_.closeAll();
}

app::Form& ScriptRunner::topmostWithMenu() {
  for (auto it = desktop_.stack.rbegin(); it != desktop_.stack.rend(); ++it)
    if ((*it)->menu() && !(*it)->menu()->items().empty()) return **it;
  throw ScriptError("no open window has a menu");
}

// A modal window takes all input while it is open.
void ScriptRunner::checkInput(app::Form& form, const std::string& what) {
  for (auto it = desktop_.stack.rbegin(); it != desktop_.stack.rend(); ++it) {
    if (*it == &form) return;
    if ((*it)->modal())
      throw ScriptError(what + ": " + form.name() + " takes no input while " + (*it)->name() + " is open");
  }
}

app::Control& ScriptRunner::resolve(const std::string& name, bool forInput) {
  if (program_.ended()) throw ScriptError(name + ": the program has ended");
  size_t dot = name.find('.');
  if (dot != std::string::npos) {
    std::string formName = name.substr(0, dot), controlName = name.substr(dot + 1);
    app::Form* form = program_.loadedForm(formName);
    if (!form) throw ScriptError(name + ": no window " + formName + " is open");
    if (!form->visible()) throw ScriptError(name + ": " + formName + " is not shown");
    app::Control* c = form->controlByQualifiedName(controlName);
    if (!c) throw ScriptError(name + ": " + formName + " has no control " + controlName);
    if (forInput) checkInput(*form, name);
    return *c;
  }
  for (auto it = desktop_.stack.rbegin(); it != desktop_.stack.rend(); ++it) {
    if (app::Control* c = (*it)->controlByQualifiedName(name)) {
      if (forInput) checkInput(**it, name);
      return *c;
    }
  }
  throw ScriptError(name + ": no open window has a control of that name");
}

void ScriptRunner::execute(const std::string& line) {
  std::string action, rest;
  splitWord(line, action, rest);
  auto needArg = [&](const char* what) {
    if (trimmed(rest).empty()) throw ScriptError(action + " needs " + what);
  };
  auto usable = [&](app::Control& c, const std::string& name) {
    if (!c.enabled()) throw ScriptError(name + " is disabled");
    if (!c.visible()) throw ScriptError(name + " is not visible");
  };

  if (action == "click") {
    needArg("a control name");
    std::string name = trimmed(rest);
    app::Control& c = resolve(name, true);
    usable(c, name);
    switch (c.kind()) {
      case app::ControlKind::Button:
      case app::ControlKind::CheckBox:
      case app::ControlKind::OptionButton:
      case app::ControlKind::ListView:
      case app::ControlKind::Image:
      case app::ControlKind::Label:
      case app::ControlKind::TextBox:  // a click into the box (its Click event)
        c.userClick();
        break;
      default:
        throw ScriptError(name + " is a " + app::controlKindName(c.kind()) + " and cannot be clicked");
    }
  } else if (action == "menu") {
    needArg("a menu key");
    std::string key = trimmed(rest);
    if (program_.ended()) throw ScriptError("menu " + key + ": the program has ended");
    app::Form& form = topmostWithMenu();
    checkInput(form, "menu " + key);
    const app::MenuItem* item = form.menu()->find(key);
    if (!item) throw ScriptError("menu " + key + ": no menu item has that key");
    if (!item->enabled) throw ScriptError("menu " + key + " is disabled");
    form.menu()->userChoose(key);
  } else if (action == "type") {
    std::string name, text;
    splitWord(rest, name, text);
    if (name.empty()) throw ScriptError("type needs a text box name");
    app::Control& c = resolve(name, true);
    if (c.kind() != app::ControlKind::TextBox) throw ScriptError(name + " is not a text box");
    usable(c, name);
    if (c.locked()) throw ScriptError(name + " is read-only");
    c.userType(unescapeText(text));
  } else if (action == "select") {
    std::string name, rowText;
    splitWord(rest, name, rowText);
    if (name.empty()) throw ScriptError("select needs a list name and a row text");
    app::Control& c = resolve(name, true);
    if (c.kind() != app::ControlKind::ListView) throw ScriptError(name + " is not a list");
    usable(c, name);
    std::string want = unescapeText(rowText);
    const auto& rows = c.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].text == want) {
        c.userSelectRow(static_cast<int>(i));
        return;
      }
    }
    std::string have;
    for (const auto& r : rows) have += (have.empty() ? "" : ", ") + app::HeadlessDesktop::escape(r.text);
    throw ScriptError(name + " has no row \"" + rowText + "\"" +
                      (rows.empty() ? std::string(" (it is empty)") : " (it has " + have + ")"));
  } else if (action == "answer") {
    needArg("a button or option caption");
    desktop_.answers.push_back(unescapeText(rest));
  } else if (action == "wait") {
    app::Form* main = program_.loadedForm("frmGlavni");
    if (!main) return;
    auto* glavni = static_cast<app::frmGlavni*>(main);
    loop_.runUntil(
        [&] {
          return closeRequested.load() || program_.ended() || !glavni->loaded() || !glavni->anyWatcherPolling();
        },
        60000);
  } else if (action == "sleep") {
    std::string ms = trimmed(rest);
    if (ms.empty() || ms.size() > 9 || !std::all_of(ms.begin(), ms.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
      throw ScriptError("sleep needs milliseconds, not \"" + ms + "\"");
    loop_.runUntil([&] { return closeRequested.load() || program_.ended(); }, std::stoll(ms));
  } else if (action == "close") {
    app::Form* main = program_.loadedForm("frmGlavni");
    if (!main) throw ScriptError("close: the main window is not open");
    checkInput(*main, "close");
    main->userClose();
  } else if (action == "print") {
    needArg("a control name");
    print(trimmed(rest));
  } else {
    throw ScriptError("unknown action \"" + action + "\"");
  }
}

void ScriptRunner::print(const std::string& name) {
  app::Control& c = resolve(name, false);
  std::string text;
  if (c.kind() == app::ControlKind::ListView) {
    for (const auto& r : c.rows()) {
      if (!text.empty()) text += "\r\n";
      text += r.text + "\t" + r.subItem;
    }
  } else {
    text = c.text();
  }
  desktop_.addLine("print: " + name + ": " + app::HeadlessDesktop::escape(text));
}

}  // namespace script
