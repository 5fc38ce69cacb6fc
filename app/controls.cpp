#include "app/controls.h"

#include "app/form.h"

namespace app {

const char* controlKindName(ControlKind k) {
  switch (k) {
    case ControlKind::Frame: return "frame";
    case ControlKind::Label: return "label";
    case ControlKind::Image: return "image";
    case ControlKind::Line: return "line";
    case ControlKind::Button: return "button";
    case ControlKind::TextBox: return "text box";
    case ControlKind::ListView: return "list";
    case ControlKind::CheckBox: return "check box";
    case ControlKind::OptionButton: return "option button";
    case ControlKind::StatusBar: return "status bar";
  }
  return "control";
}

Control::Control(Form& form, ControlKind kind, std::string name, int index)
    : form_(&form), kind_(kind), name_(std::move(name)), index_(index) {}

std::string Control::qualifiedName() const {
  if (index_ < 0) return name_;
  return name_ + "(" + std::to_string(index_) + ")";
}

void Control::notify(app::Change what) { form_->notify(this, what); }

void Control::move(int x, int y, int w, int h) {
  x_ = x;
  y_ = y;
  w_ = w;
  h_ = h;
  notify(app::Change::Geometry);
}

void Control::setText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  notify(app::Change::Text);
  if (kind_ == ControlKind::TextBox && Change) Change();
}

void Control::setForeColor(Color c) {
  fore_ = c;
  notify(app::Change::Colors);
}

void Control::setBackColor(Color c) {
  back_ = c;
  notify(app::Change::Colors);
}

void Control::setCaptionBackColor(Color c) {
  captionBack_ = c;
  notify(app::Change::Colors);
}

void Control::setFont(Font f) {
  font_ = std::move(f);
  notify(app::Change::Font);
}

void Control::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  notify(app::Change::Enabled);
}

void Control::setVisible(bool on) {
  if (on == visible_) return;
  visible_ = on;
  notify(app::Change::Visible);
}

void Control::setValue(int v) {
  if (kind_ == ControlKind::OptionButton) v = v ? 1 : 0;
  if (v == value_) return;
  value_ = v;
  if (kind_ == ControlKind::OptionButton && v) {
    // An option clears the others of its group: same form, same container.
    for (const auto& other : form_->controls()) {
      if (other.get() != this && other->kind_ == ControlKind::OptionButton &&
          other->container_ == container_ && other->value_) {
        other->value_ = 0;
        other->notify(app::Change::Value);
      }
    }
  }
  notify(app::Change::Value);
  if ((kind_ == ControlKind::CheckBox || (kind_ == ControlKind::OptionButton && v)) && Click) Click();
}

void Control::setPicture(std::string name) {
  picture_ = std::move(name);
  notify(app::Change::Picture);
}

void Control::bringToFront() {
  z_ = form_->nextZOrder();
  notify(app::Change::ZOrder);
}

void Control::setColumns(std::vector<ListColumn> cols) {
  columns_ = std::move(cols);
  notify(app::Change::Rows);
}

void Control::clearRows() {
  rows_.clear();
  selected_ = -1;
  notify(app::Change::Rows);
}

void Control::addRow(ListRow row) {
  rows_.push_back(std::move(row));
  notify(app::Change::Rows);
}

void Control::setSelectedRow(int row) {
  if (row < -1 || row >= static_cast<int>(rows_.size())) row = -1;
  if (row == selected_) return;
  selected_ = row;
  notify(app::Change::Selection);
}

const ListRow* Control::selectedItem() const {
  if (selected_ < 0 || selected_ >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<size_t>(selected_)];
}

void Control::userClick() {
  if (!enabled_ || !visible_) return;
  switch (kind_) {
    case ControlKind::CheckBox:
      setValue(value_ ? 0 : 1);  // fires Click
      break;
    case ControlKind::OptionButton:
      if (value_) {
        if (Click) Click();
      } else {
        setValue(1);  // fires Click
      }
      break;
    default:
      if (Click) Click();
      break;
  }
}

void Control::userType(std::string text) {
  if (!enabled_ || !visible_ || locked_) return;
  setText(std::move(text));
}

void Control::userSelectRow(int row) {
  if (!enabled_ || !visible_) return;
  setSelectedRow(row);
  if (Click) Click();
}

}  // namespace app
