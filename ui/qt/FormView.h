#pragma once
// The Qt view of one form: a window of the form's client size with one
// widget per control at its place, kept in step with the form's state, and
// the user's actions passed back to the controls.
#include <QAbstractButton>
#include <QMenuBar>
#include <QWidget>
#include <map>
#include <vector>

#include "app/form.h"

class QAction;

namespace qtui {

QColor toQColor(app::Color c);
QFont toQFont(const app::Font& f);
QString toQString(const std::string& ansi);
std::string fromQString(const QString& s);

// The picture-and-caption button: a face colour, a picture, and the
// caption on its own background colour.
class PictureButton : public QAbstractButton {
 public:
  PictureButton(app::Control& c, bool toolbar, QWidget* parent);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  app::Control* c_;
  bool toolbar_;
  bool hover_ = false;
};

class FormView : public QWidget {
 public:
  explicit FormView(app::Form& form);
  ~FormView() override;

  app::Form& form() const { return *form_; }
  // The widget that shows a control (nullptr for none).
  QWidget* widgetFor(const app::Control* c) const;
  QMenuBar* menuBar() const { return menuBar_; }
  // The menu action of item number n (1-based), nullptr for bar entries.
  QAction* menuAction(int number) const;
  // Stop listening to the form (it is being unloaded).
  void detach();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void build();
  QWidget* makeWidget(app::Control& c, QWidget* parent);
  void refresh(app::Control* c, app::Change what);
  void refreshControl(app::Control& c, app::Change what);
  void refreshRows(app::Control& c);
  void restackFrames();
  void buildMenu();
  void refreshMenu();

  app::Form* form_;
  int subscription_ = 0;
  std::map<const app::Control*, QWidget*> widgets_;
  QMenuBar* menuBar_ = nullptr;
  std::vector<QAction*> menuActions_;  // one per item, null for bar entries
  int updating_ = 0;
  bool menuRefreshPending_ = false;
};

}  // namespace qtui
