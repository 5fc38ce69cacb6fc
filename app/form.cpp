#include "app/form.h"

#include "app/program.h"

namespace app {

Form::Form(Program& program, std::string name) : program_(&program), name_(std::move(name)) {}

Form::~Form() = default;

Context& Form::context() const { return program_->context(); }

void Form::setCaption(std::string caption) {
  caption_ = std::move(caption);
  notify(nullptr, Change::Text);
}

void Form::moveTo(int left, int top) {
  left_ = left;
  top_ = top;
  notify(nullptr, Change::Geometry);
}

void Form::centre() {
  Desktop& d = program_->desktop();
  moveTo(d.screenWidth() / 2 - clientW_ / 2, d.screenHeight() / 2 - clientH_ / 2);
}

void Form::Show(bool modal) { program_->show(*this, modal); }
void Form::Hide() { program_->hide(*this); }
void Form::Unload() { program_->unload(*this); }
void Form::userClose() { program_->unload(*this, vbFormControlMenu); }

Control* Form::control(std::string_view name, int index) const {
  for (const auto& c : controls_)
    if (c->name() == name && c->index() == index) return c.get();
  return nullptr;
}

Control* Form::controlByQualifiedName(std::string_view q) const {
  auto open = q.find('(');
  if (open == std::string_view::npos || q.back() != ')') return control(q);
  std::string_view digits = q.substr(open + 1, q.size() - open - 2);
  if (digits.empty() || digits.size() > 4) return nullptr;
  int index = 0;
  for (char ch : digits) {
    if (ch < '0' || ch > '9') return nullptr;
    index = index * 10 + (ch - '0');
  }
  return control(q.substr(0, open), index);
}

Control* Form::frontFrame() const {
  Control* front = nullptr;
  for (const auto& c : controls_)
    if (c->kind() == ControlKind::Frame && (!front || c->zOrder() > front->zOrder())) front = c.get();
  return front;
}

Control& Form::add(ControlKind kind, std::string name, int x, int y, int w, int h, std::string text,
                   Control* container, int index) {
  auto c = std::make_unique<Control>(*this, kind, std::move(name), index);
  c->move(x, y, w, h);
  c->setContainer(container);
  c->setText(std::move(text));
  if (kind == ControlKind::Frame) c->bringToFront();
  controls_.push_back(std::move(c));
  return *controls_.back();
}

void Form::addTimer(platform::Timer& t) {
  t.attach(program_->context().loop);
  timers_.push_back(&t);
}

int Form::subscribe(Observer o) {
  int id = nextObserver_++;
  observers_.emplace(id, std::move(o));
  return id;
}

void Form::unsubscribe(int id) { observers_.erase(id); }

void Form::notify(Control* c, Change what) {
  // An observer may unsubscribe while being told.
  auto copy = observers_;
  for (auto& [id, o] : copy)
    if (observers_.count(id)) o(*this, c, what);
}

}  // namespace app
