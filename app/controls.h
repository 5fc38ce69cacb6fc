#pragma once
// Controls as plain state. A form holds its controls under their own names;
// handlers change them through the setters, which tell the form's observers
// (the Qt views, the script driver) what changed. Nothing here draws.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

class Form;

struct Color {
  uint8_t r = 0, g = 0, b = 0;
  bool buttonFace = false;  // the system button-face colour, whatever it is
  bool operator==(const Color&) const = default;
  static constexpr Color rgb(uint8_t r, uint8_t g, uint8_t b) { return Color{r, g, b, false}; }
  static constexpr Color systemButtonFace() { return Color{0, 0, 0, true}; }
};

inline constexpr Color kHighlight = Color::rgb(222, 198, 173);
inline constexpr Color kTextColor = Color::rgb(128, 64, 64);
inline constexpr Color kPressedColor = Color::rgb(210, 179, 142);
inline constexpr Color kWhite = Color::rgb(255, 255, 255);
inline constexpr Color kBlack = Color::rgb(0, 0, 0);
inline constexpr Color kWarningRed = Color::rgb(255, 0, 0);
inline constexpr Color kButtonFace = Color::systemButtonFace();

struct Font {
  std::string name = "MS Sans Serif";
  double size = 8.25;  // points
  bool bold = false;
  bool operator==(const Font&) const = default;
};

enum class ControlKind {
  Frame,         // a screen panel; holds other controls
  Label,
  Image,         // a picture (artwork by name)
  Line,          // a horizontal line from x to x+w at y
  Button,        // picture-and-caption button with two background colours
  TextBox,
  ListView,      // report-style list
  CheckBox,
  OptionButton,  // one of a group (same name, different index)
  StatusBar,
};

const char* controlKindName(ControlKind k);

struct ListColumn {
  std::string key;
  std::string header;
  int width = 0;  // pixels
};

struct ListRow {
  std::string key;
  std::string text;     // column 1
  std::string subItem;  // column 2
  int icon = 0;         // 1-based index into the list's image list, 0 none
};

// What a change touched, so a view can refresh only that.
enum class Change { Text, Geometry, Colors, Font, Enabled, Visible, Value, Rows, Selection, ZOrder, Picture, Menu };

class Control {
 public:
  Control(Form& form, ControlKind kind, std::string name, int index = -1);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Form& form() const { return *form_; }
  ControlKind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  int index() const { return index_; }              // -1 unless part of a control array
  std::string qualifiedName() const;                // "optContinue(3)"
  Control* container() const { return container_; } // the panel it sits on, or none
  void setContainer(Control* frame) { container_ = frame; }

  // Position and size in pixels, relative to the container's top left.
  int x() const { return x_; }
  int y() const { return y_; }
  int width() const { return w_; }
  int height() const { return h_; }
  void move(int x, int y, int w, int h);

  // Caption of buttons, labels, check boxes; text of text boxes and the
  // status bar. Setting a text box's text fires Change when it differs.
  const std::string& text() const { return text_; }
  void setText(std::string text);

  Color foreColor() const { return fore_; }
  Color backColor() const { return back_; }
  // Buttons: the background behind the caption, set together with the face.
  Color captionBackColor() const { return captionBack_; }
  void setForeColor(Color c);
  void setBackColor(Color c);
  void setCaptionBackColor(Color c);

  const Font& font() const { return font_; }
  void setFont(Font f);

  bool enabled() const { return enabled_; }
  void setEnabled(bool on);
  bool visible() const { return visible_; }
  void setVisible(bool on);

  // Check box: 0 unticked, 1 ticked (setting it fires Click, as the classic
  // check box does). Option button: true when selected (selecting one
  // clears the others of its group and fires Click).
  int value() const { return value_; }
  void setValue(int v);

  // Artwork shown by images and picture buttons, by name.
  const std::string& picture() const { return picture_; }
  void setPicture(std::string name);

  // Frames: the stacking order; the highest is in front.
  int zOrder() const { return z_; }
  void bringToFront();

  // Text boxes.
  bool multiLine() const { return multiLine_; }
  void setMultiLine(bool on) { multiLine_ = on; }
  bool locked() const { return locked_; }  // read-only for the user
  void setLocked(bool on) { locked_ = on; }

  // Lists.
  const std::vector<ListColumn>& columns() const { return columns_; }
  void setColumns(std::vector<ListColumn> cols);
  const std::vector<ListRow>& rows() const { return rows_; }
  void clearRows();
  void addRow(ListRow row);
  int selectedRow() const { return selected_; }  // -1 none
  void setSelectedRow(int row);
  const ListRow* selectedItem() const;

  // Events; the form binds them to its handlers.
  std::function<void()> Click;
  std::function<void()> Change;

  // What a user does: clicks only reach an enabled, visible control.
  void userClick();
  void userType(std::string text);
  void userSelectRow(int row);  // selects and clicks the list

 private:
  void notify(app::Change what);
  Form* form_;
  ControlKind kind_;
  std::string name_;
  int index_;
  Control* container_ = nullptr;
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
  std::string text_;
  Color fore_ = kBlack, back_ = kWhite, captionBack_ = kWhite;
  Font font_;
  bool enabled_ = true, visible_ = true;
  int value_ = 0;
  std::string picture_;
  int z_ = 0;
  bool multiLine_ = false, locked_ = false;
  std::vector<ListColumn> columns_;
  std::vector<ListRow> rows_;
  int selected_ = -1;
};

}  // namespace app
