#pragma once
// The keyed menu control of the main window: an ordered collection of items
// with parents, kinds, pictures by index, shortcuts and check marks. A click
// reports the chosen item's 1-based number; the form asks for its key.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/controls.h"

namespace app {

enum MenuItemKind : int {
  kMenuPlain = 0,
  kMenuDefault = 1,  // drawn bold, as the default entry of its menu
  kMenuCheck = 2,
  kMenuSeparator = 3,
};

inline constexpr int kKeyF1 = 112;

struct MenuItem {
  std::string parent;  // empty: an entry of the menu bar
  std::string key;
  int kind = kMenuPlain;
  std::string caption;
  int icon = 0;  // 1-based index into the menu's image list, 0 none
  int shortcut = 0;
  int checked = 0;
  bool enabled = true;
  bool visible = true;
};

class Menu {
 public:
  explicit Menu(Form& form);

  // Items.Add: appends and returns its 1-based number.
  int add(MenuItem item);
  const std::vector<MenuItem>& items() const { return items_; }
  const MenuItem& item(int number) const;      // 1-based
  std::string itemKey(int number) const;       // empty for a number out of range
  const MenuItem* find(std::string_view key) const;
  // Sets the check state of the item with that key (0 or 1).
  void setChecked(std::string_view key, int state);

  const Font& font() const { return font_; }
  void setFont(Font f);

  // Check mark, check box and selection box colours.
  Color checkColor = Color::rgb(64, 0, 0);
  Color selectionColor = kHighlight;

  // Click(number): the item chosen, by the user or by its shortcut.
  std::function<void(int)> Click;
  // What a user does: runs Click for the item with that key. False when no
  // item has the key.
  bool userChoose(std::string_view key);
  // A pressed shortcut: chooses the first item that carries it.
  bool userShortcut(int keyCode);

 private:
  void notify();
  Form* form_;
  std::vector<MenuItem> items_;
  Font font_;
};

}  // namespace app
