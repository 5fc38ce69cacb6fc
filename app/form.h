#pragma once
// A window of the program: its name, caption, client size, controls and
// timers, and the form events the program raises (Form_Load,
// Form_QueryUnload, Form_Unload). Loading, showing and unloading go through
// the Program, which keeps the loaded forms in load order.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/controls.h"
#include "app/menu.h"
#include "platform/timer.h"

namespace app {

class Program;
struct Context;

// Why a form is being unloaded (the classic UnloadMode).
enum UnloadMode : int { vbFormControlMenu = 0, vbFormCode = 1, vbAppWindows = 2, vbAppTaskManager = 3 };

class Form {
 public:
  Form(Program& program, std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& name() const { return name_; }
  Program& program() const { return *program_; }
  Context& context() const;

  const std::string& caption() const { return caption_; }
  void setCaption(std::string caption);
  int clientWidth() const { return clientW_; }
  int clientHeight() const { return clientH_; }
  // Top left of the window on the screen, pixels.
  int left() const { return left_; }
  int top() const { return top_; }
  void moveTo(int left, int top);
  // Places the window in the middle of the screen.
  void centre();
  Color backColor() const { return back_; }
  // The window's border: a dialog cannot be resized, the main window can
  // (without a maximise button).
  bool sizable() const { return sizable_; }
  // Artwork behind the controls, by name (empty for none).
  const std::string& picture() const { return picture_; }

  bool loaded() const { return loaded_; }
  bool visible() const { return visible_; }
  bool modal() const { return modal_; }

  // Show, Hide, Unload of the classic forms.
  void Show(bool modal = false);
  void Hide();
  void Unload();

  // --- controls --------------------------------------------------------------
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
  // By name (and index, for control arrays); nullptr when none.
  Control* control(std::string_view name, int index = -1) const;
  // "name" or "name(index)".
  Control* controlByQualifiedName(std::string_view qualified) const;
  virtual Menu* menu() { return nullptr; }
  // The panel in front (highest z-order) among the frames, or none.
  Control* frontFrame() const;
  int nextZOrder() { return ++zTop_; }
  // The buttons that answer Enter and Escape.
  Control* defaultButton() const { return default_; }
  Control* cancelButton() const { return cancel_; }
  // The form's timers, stopped when it is unloaded.
  const std::vector<platform::Timer*>& timers() const { return timers_; }

  // --- events ----------------------------------------------------------------
  virtual void Form_Load() {}
  virtual void Form_QueryUnload(int& cancel, int unloadMode) { (void)cancel; (void)unloadMode; }
  virtual void Form_Unload(int& cancel) { (void)cancel; }
  // The user closes the window through its title bar.
  virtual void userClose();

  // --- observers (views, transcripts) -----------------------------------------
  // control is null for changes of the form itself (caption, position).
  using Observer = std::function<void(Form&, Control*, Change)>;
  int subscribe(Observer o);
  void unsubscribe(int id);
  void notify(Control* c, Change what);

 protected:
  Control& add(ControlKind kind, std::string name, int x, int y, int w, int h,
               std::string text = {}, Control* container = nullptr, int index = -1);
  void setClientSize(int w, int h) { clientW_ = w; clientH_ = h; }
  void setBackColor(Color c) { back_ = c; }
  void setSizable(bool on) { sizable_ = on; }
  void setPicture(std::string name) { picture_ = std::move(name); }
  void setDefaultButton(Control* c) { default_ = c; }
  void setCancelButton(Control* c) { cancel_ = c; }
  // Attaches the timer to the program's loop and stops it on unload.
  void addTimer(platform::Timer& t);

 private:
  friend class Program;
  Program* program_;
  std::string name_;
  std::string caption_;
  int clientW_ = 320, clientH_ = 240;
  int left_ = 0, top_ = 0;
  Color back_ = kWhite;
  bool sizable_ = false;
  std::string picture_;
  bool loaded_ = false, visible_ = false, modal_ = false;
  bool loading_ = false, hiddenWhileLoading_ = false, unloading_ = false;
  std::vector<std::unique_ptr<Control>> controls_;
  Control* default_ = nullptr;
  Control* cancel_ = nullptr;
  std::vector<platform::Timer*> timers_;
  int zTop_ = 0;
  std::map<int, Observer> observers_;
  int nextObserver_ = 1;
};

}  // namespace app
