#include "app/menu.h"

#include "app/form.h"

namespace app {

Menu::Menu(Form& form) : form_(&form) {}

int Menu::add(MenuItem item) {
  items_.push_back(std::move(item));
  notify();
  return static_cast<int>(items_.size());
}

const MenuItem& Menu::item(int number) const { return items_.at(static_cast<size_t>(number - 1)); }

std::string Menu::itemKey(int number) const {
  if (number < 1 || number > static_cast<int>(items_.size())) return {};
  return items_[static_cast<size_t>(number - 1)].key;
}

const MenuItem* Menu::find(std::string_view key) const {
  for (const auto& i : items_)
    if (!key.empty() && i.key == key) return &i;
  return nullptr;
}

void Menu::setChecked(std::string_view key, int state) {
  for (auto& i : items_) {
    if (!key.empty() && i.key == key) {
      i.checked = state ? 1 : 0;
      notify();
      return;
    }
  }
}

void Menu::setFont(Font f) {
  font_ = std::move(f);
  notify();
}

bool Menu::userChoose(std::string_view key) {
  for (size_t n = 0; n < items_.size(); ++n) {
    if (items_[n].key == key) {
      if (!items_[n].enabled || !items_[n].visible) return true;
      if (Click) Click(static_cast<int>(n + 1));
      return true;
    }
  }
  return false;
}

bool Menu::userShortcut(int keyCode) {
  for (size_t n = 0; n < items_.size(); ++n) {
    if (keyCode != 0 && items_[n].shortcut == keyCode) {
      if (Click) Click(static_cast<int>(n + 1));
      return true;
    }
  }
  return false;
}

// The menu is not a control; a change tells the form as a whole.
void Menu::notify() { form_->notify(nullptr, Change::Menu); }

}  // namespace app
