#include "ui/qt/FormView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/text.h"
#include "ui/qt/artwork/Artwork.h"

namespace qtui {

namespace {
// A click into a text box is the box's Click event.
class TextClickFilter : public QObject {
 public:
  TextClickFilter(QObject* parent, app::Control& c) : QObject(parent), c_(c) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease) c_.userClick();
    return QObject::eventFilter(watched, e);
  }

 private:
  app::Control& c_;
};
}  // namespace

QColor toQColor(app::Color c) {
  if (c.buttonFace) return QApplication::palette().color(QPalette::Button);
  return QColor(c.r, c.g, c.b);
}

QFont toQFont(const app::Font& f) {
  QFont q(QString::fromStdString(f.name));
  // Points at 96 dots per inch, whatever the screen says.
  q.setPixelSize(static_cast<int>(std::lround(f.size * 96.0 / 72.0)));
  q.setBold(f.bold);
  return q;
}

QString toQString(const std::string& ansi) { return QString::fromStdString(platform::ansiToUtf8(ansi)); }

std::string fromQString(const QString& s) { return platform::utf8ToAnsi(s.toStdString()); }

namespace {

QString toView(const std::string& ansi) {
  QString s = toQString(ansi);
  s.replace("\r\n", "\n");
  return s;
}

std::string fromView(const QString& s) {
  QString t = s;
  t.replace("\n", "\r\n");
  return fromQString(t);
}

QPixmap picture(const std::string& name, QSize size) {
  QImage img = art::draw(QString::fromStdString(name), size);
  return img.isNull() ? QPixmap() : QPixmap::fromImage(img);
}

void setColors(QWidget* w, app::Color fore, app::Color back, QPalette::ColorRole backRole) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, toQColor(fore));
  p.setColor(QPalette::Text, toQColor(fore));
  p.setColor(QPalette::ButtonText, toQColor(fore));
  p.setColor(backRole, toQColor(back));
  w->setPalette(p);
}

}  // namespace

// --- picture button ------------------------------------------------------------

PictureButton::PictureButton(app::Control& c, bool toolbar, QWidget* parent)
    : QAbstractButton(parent), c_(&c), toolbar_(toolbar) {
  setFocusPolicy(toolbar ? Qt::NoFocus : Qt::StrongFocus);
  setAttribute(Qt::WA_Hover, true);
}

QSize PictureButton::sizeHint() const { return QSize(c_->width(), c_->height()); }

void PictureButton::enterEvent(QEnterEvent* e) {
  hover_ = true;
  update();
  QAbstractButton::enterEvent(e);
}

void PictureButton::leaveEvent(QEvent* e) {
  hover_ = false;
  update();
  QAbstractButton::leaveEvent(e);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  QColor face = toQColor(c_->backColor());
  QColor captionBack = toQColor(c_->captionBackColor());
  if (isEnabled() && isDown()) face = captionBack = QColor(210, 179, 142);
  else if (isEnabled() && hover_ && toolbar_) face = captionBack = QColor(222, 198, 173);
  p.fillRect(r, face);

  const QString caption = toQString(c_->text());
  const QString pic = QString::fromStdString(c_->picture());
  QRect captionRect = r.adjusted(3, 3, -3, -3);
  if (!pic.isEmpty()) {
    if (caption.isEmpty()) {
      p.drawPixmap(r, picture(c_->picture(), r.size()));
    } else {
      const int side = 32;
      QRect picRect(r.center().x() - side / 2 + 1, r.top() + 3, side, side);
      p.drawPixmap(picRect, picture(c_->picture(), QSize(side, side)));
      captionRect = QRect(r.left() + 1, picRect.bottom() + 1, r.width() - 2, r.bottom() - picRect.bottom() - 2);
    }
  }
  if (!caption.isEmpty()) {
    p.fillRect(captionRect, captionBack);
    p.setFont(font());
    p.setPen(isEnabled() ? toQColor(c_->foreColor()) : QColor(128, 128, 128));
    p.drawText(captionRect, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, caption);
  }
  // Edges in the text colour; a toolbar button shows them only when it is
  // the current one, under the pointer or pressed.
  bool edge = !toolbar_ || hover_ || isDown() || c_->backColor() == app::kHighlight;
  if (edge && !(pic.size() && caption.isEmpty())) {
    p.setPen(QColor(128, 64, 64));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
  }
  if (hasFocus()) {
    QPen dots(QColor(128, 64, 64), 1, Qt::DotLine);
    p.setPen(dots);
    p.drawRect(r.adjusted(3, 3, -4, -4));
  }
}

// --- form view -------------------------------------------------------------------

FormView::FormView(app::Form& form) : QWidget(nullptr), form_(&form) {
  setObjectName(QString::fromStdString(form.name()));
  if (form.sizable()) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    resize(form.clientWidth(), form.clientHeight());
  } else {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(form.clientWidth(), form.clientHeight());
  }
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, toQColor(form.backColor()));
  setPalette(pal);
  setWindowTitle(toQString(form.caption()));
  build();
  subscription_ = form.subscribe([this](app::Form&, app::Control* c, app::Change what) { refresh(c, what); });
}

FormView::~FormView() { detach(); }

void FormView::detach() {
  if (subscription_) form_->unsubscribe(subscription_);
  subscription_ = 0;
}

QWidget* FormView::widgetFor(const app::Control* c) const {
  auto it = widgets_.find(c);
  return it == widgets_.end() ? nullptr : it->second;
}

QAction* FormView::menuAction(int number) const {
  if (number < 1 || number > static_cast<int>(menuActions_.size())) return nullptr;
  return menuActions_[static_cast<size_t>(number - 1)];
}

void FormView::build() {
  // Frames first, so that what sits on them has its parent.
  for (const auto& c : form_->controls())
    if (c->kind() == app::ControlKind::Frame) widgets_[c.get()] = makeWidget(*c, this);
  for (const auto& c : form_->controls()) {
    if (c->kind() == app::ControlKind::Frame) continue;
    QWidget* parent = c->container() ? widgetFor(c->container()) : this;
    widgets_[c.get()] = makeWidget(*c, parent ? parent : this);
  }
  // Panels of the main window sit below the toolbar and its picture button.
  restackFrames();
  if (form_->menu()) {
    // The menu control is a strip of the client area beside the maker's
    // button; a holder keeps Qt from treating it as the window's own bar.
    auto* holder = new QWidget(this);
    holder->setGeometry(0, 0, 484, 31);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    menuBar_ = new QMenuBar(holder);
    menuBar_->setNativeMenuBar(false);
    layout->addWidget(menuBar_);
    menuBar_->setAutoFillBackground(true);
    menuBar_->setStyleSheet(
        "QMenuBar { background: palette(button); }"
        "QMenuBar::item { padding: 6px 7px; background: transparent; }"
        "QMenuBar::item:selected { background: rgb(222,198,173); border: 1px solid rgb(64,0,0); }"
        "QMenu { background: white; border: 1px solid rgb(128,64,64); }"
        "QMenu::item { padding: 3px 24px 3px 26px; color: black; }"
        "QMenu::item:selected { background: rgb(222,198,173); border: 1px solid rgb(64,0,0); }"
        "QMenu::item:disabled { color: gray; }"
        "QMenu::separator { height: 1px; background: rgb(128,64,64); margin: 3px 4px; }"
        // Check marks are drawn as the items' pictures, in the menu's colours.
        "QMenu::indicator { width: 0px; height: 0px; }");
    buildMenu();
  }
}

QWidget* FormView::makeWidget(app::Control& c, QWidget* parent) {
  QWidget* w = nullptr;
  switch (c.kind()) {
    case app::ControlKind::Frame: {
      w = new QWidget(parent);
      w->setAutoFillBackground(true);
      break;
    }
    case app::ControlKind::Label: {
      auto* l = new QLabel(parent);
      l->setWordWrap(true);
      l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      l->setTextFormat(Qt::PlainText);
      l->setAttribute(Qt::WA_TransparentForMouseEvents, !c.Click);
      w = l;
      break;
    }
    case app::ControlKind::Image: {
      auto* l = new QLabel(parent);
      l->setScaledContents(false);
      w = l;
      break;
    }
    case app::ControlKind::Line: {
      auto* f = new QFrame(parent);
      f->setAutoFillBackground(true);
      w = f;
      break;
    }
    case app::ControlKind::Button: {
      bool toolbar = c.name().rfind("tlbCmd", 0) == 0;
      auto* b = new PictureButton(c, toolbar, parent);
      QObject::connect(b, &QAbstractButton::clicked, b, [&c] { c.userClick(); });
      w = b;
      break;
    }
    case app::ControlKind::TextBox: {
      if (c.multiLine()) {
        auto* e = new QPlainTextEdit(parent);
        e->setFrameShape(QFrame::Box);
        QObject::connect(e, &QPlainTextEdit::textChanged, e, [this, e, &c] {
          if (!updating_) c.userType(fromView(e->toPlainText()));
        });
        e->viewport()->installEventFilter(new TextClickFilter(e, c));
        w = e;
      } else {
        auto* e = new QLineEdit(parent);
        e->setFrame(true);
        QObject::connect(e, &QLineEdit::textEdited, e, [&c](const QString& s) { c.userType(fromQString(s)); });
        e->installEventFilter(new TextClickFilter(e, c));
        w = e;
      }
      break;
    }
    case app::ControlKind::ListView: {
      auto* t = new QTreeWidget(parent);
      t->setRootIsDecorated(false);
      t->setUniformRowHeights(true);
      t->setIconSize(QSize(16, 16));
      t->setSelectionMode(QAbstractItemView::SingleSelection);
      t->header()->setStretchLastSection(false);
      t->header()->setSectionsClickable(true);
      QObject::connect(t, &QTreeWidget::itemClicked, t, [t, &c](QTreeWidgetItem* item, int) {
        c.userSelectRow(t->indexOfTopLevelItem(item));
      });
      w = t;
      break;
    }
    case app::ControlKind::CheckBox: {
      auto* b = new QCheckBox(parent);
      QObject::connect(b, &QCheckBox::clicked, b, [this, &c] {
        c.userClick();
        refreshControl(c, app::Change::Value);
      });
      w = b;
      break;
    }
    case app::ControlKind::OptionButton: {
      auto* b = new QRadioButton(parent);
      b->setAutoExclusive(false);
      QObject::connect(b, &QRadioButton::clicked, b, [this, &c] {
        c.userClick();
        refreshControl(c, app::Change::Value);
      });
      w = b;
      break;
    }
    case app::ControlKind::StatusBar: {
      auto* l = new QLabel(parent);
      l->setFrameShape(QFrame::Panel);
      l->setFrameShadow(QFrame::Sunken);
      l->setTextFormat(Qt::PlainText);
      l->setContentsMargins(2, 0, 2, 0);
      w = l;
      break;
    }
  }
  w->setObjectName(QString::fromStdString(c.qualifiedName()));
  for (app::Change what : {app::Change::Geometry, app::Change::Font, app::Change::Colors, app::Change::Text,
                           app::Change::Picture, app::Change::Enabled, app::Change::Visible, app::Change::Value,
                           app::Change::Rows}) {
    widgets_[&c] = w;
    refreshControl(c, what);
  }
  return w;
}

void FormView::restackFrames() {
  std::vector<app::Control*> frames;
  for (const auto& c : form_->controls())
    if (c->kind() == app::ControlKind::Frame) frames.push_back(c.get());
  std::sort(frames.begin(), frames.end(), [](auto* a, auto* b) { return a->zOrder() < b->zOrder(); });
  for (app::Control* f : frames)
    if (QWidget* w = widgetFor(f)) w->raise();
}

void FormView::refresh(app::Control* c, app::Change what) {
  if (!c) {
    if (what == app::Change::Text) setWindowTitle(toQString(form_->caption()));
    if (what == app::Change::Menu && menuBar_ && !menuRefreshPending_) {
      // Never rebuild while one of the menu's own actions is being handled.
      menuRefreshPending_ = true;
      QTimer::singleShot(0, this, [this] {
        menuRefreshPending_ = false;
        refreshMenu();
      });
    }
    return;
  }
  if (what == app::Change::ZOrder) {
    restackFrames();
    return;
  }
  refreshControl(*c, what);
}

void FormView::refreshControl(app::Control& c, app::Change what) {
  QWidget* w = widgetFor(&c);
  if (!w) return;
  ++updating_;
  switch (what) {
    case app::Change::Geometry:
      if (c.kind() == app::ControlKind::Line) w->setGeometry(c.x(), c.y(), c.width() + 1, 1);
      else w->setGeometry(c.x(), c.y(), c.width(), c.height());
      if (c.kind() == app::ControlKind::Image) refreshControl(c, app::Change::Picture);
      break;
    case app::Change::Font:
      w->setFont(toQFont(c.font()));
      break;
    case app::Change::Colors:
      switch (c.kind()) {
        case app::ControlKind::Line: {
          QPalette p = w->palette();
          p.setColor(QPalette::Window, toQColor(c.foreColor()));
          w->setPalette(p);
          break;
        }
        case app::ControlKind::TextBox:
        case app::ControlKind::ListView:
          setColors(w, c.foreColor(), c.backColor(), QPalette::Base);
          break;
        case app::ControlKind::Frame:
        case app::ControlKind::StatusBar:
          setColors(w, c.foreColor(), c.backColor(), QPalette::Window);
          break;
        default:
          setColors(w, c.foreColor(), c.backColor(), QPalette::Button);
          break;
      }
      w->update();
      break;
    case app::Change::Text:
      if (auto* l = qobject_cast<QLabel*>(w); l && c.kind() != app::ControlKind::Image) l->setText(toQString(c.text()));
      else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        if (fromView(e->toPlainText()) != c.text()) e->setPlainText(toView(c.text()));
      } else if (auto* e2 = qobject_cast<QLineEdit*>(w)) {
        if (fromQString(e2->text()) != c.text()) e2->setText(toQString(c.text()));
      } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(toQString(c.text()));
        b->update();
      }
      break;
    case app::Change::Picture:
      if (c.kind() == app::ControlKind::Image) {
        if (auto* l = qobject_cast<QLabel*>(w)) l->setPixmap(picture(c.picture(), QSize(c.width(), c.height())));
      } else {
        w->update();
      }
      break;
    case app::Change::Enabled:
      w->setEnabled(c.enabled());
      break;
    case app::Change::Visible:
      w->setVisible(c.visible());
      break;
    case app::Change::Value:
      if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) b->setChecked(c.value() != 0);
      break;
    case app::Change::Rows:
      if (c.kind() == app::ControlKind::ListView) refreshRows(c);
      break;
    case app::Change::Selection:
      if (auto* t = qobject_cast<QTreeWidget*>(w)) {
        t->clearSelection();
        if (QTreeWidgetItem* item = t->topLevelItem(c.selectedRow())) {
          item->setSelected(true);
          t->setCurrentItem(item);
        }
      }
      break;
    default:
      break;
  }
  --updating_;
}

void FormView::refreshRows(app::Control& c) {
  auto* t = qobject_cast<QTreeWidget*>(widgetFor(&c));
  if (!t) return;
  QStringList headers;
  for (const auto& col : c.columns()) headers << toQString(col.header);
  t->setColumnCount(static_cast<int>(c.columns().size()));
  t->setHeaderLabels(headers);
  for (size_t i = 0; i < c.columns().size(); ++i) t->setColumnWidth(static_cast<int>(i), c.columns()[i].width);
  t->clear();
  for (const auto& row : c.rows()) {
    auto* item = new QTreeWidgetItem(t);
    item->setText(0, toQString(row.text));
    item->setText(1, toQString(row.subItem));
    if (row.icon > 0) item->setIcon(0, QIcon(picture("list" + std::to_string(row.icon), QSize(16, 16))));
  }
  if (QTreeWidgetItem* item = t->topLevelItem(c.selectedRow())) item->setSelected(true);
}

void FormView::buildMenu() {
  app::Menu* m = form_->menu();
  menuBar_->clear();
  menuActions_.assign(m->items().size(), nullptr);
  menuBar_->setFont(toQFont(m->font()));
  std::map<std::string, QMenu*> drops;
  for (size_t i = 0; i < m->items().size(); ++i) {
    const app::MenuItem& item = m->items()[i];
    const int number = static_cast<int>(i + 1);
    if (item.parent.empty()) {
      QMenu* drop = menuBar_->addMenu(toQString(item.caption));
      drop->setFont(toQFont(m->font()));
      if (!item.key.empty()) drops[item.key] = drop;
      continue;
    }
    auto it = drops.find(item.parent);
    if (it == drops.end()) continue;
    QMenu* drop = it->second;
    if (item.kind == app::kMenuSeparator) {
      QAction* sep = drop->addSeparator();
      // The separator is an item too: a click on it reaches the form, which does nothing.
      menuActions_[i] = sep;
      continue;
    }
    QAction* a = drop->addAction(toQString(item.caption));
    if (item.icon > 0) a->setIcon(QIcon(picture("menu" + std::to_string(item.icon), QSize(16, 16))));
    if (item.kind == app::kMenuCheck) a->setCheckable(true);
    if (item.kind == app::kMenuDefault) {
      QFont f = toQFont(m->font());
      f.setBold(true);
      a->setFont(f);
    }
    if (item.shortcut == app::kKeyF1) {
      a->setShortcut(QKeySequence(Qt::Key_F1));
      a->setShortcutContext(Qt::WindowShortcut);
      addAction(a);
    }
    QObject::connect(a, &QAction::triggered, this, [this, number] {
      app::Menu* menu = form_->menu();
      if (menu && menu->Click) menu->Click(number);
      refreshMenu();
    });
    menuActions_[i] = a;
  }
  refreshMenu();
}

void FormView::refreshMenu() {
  app::Menu* m = form_->menu();
  if (!m || !menuBar_) return;
  if (menuActions_.size() != m->items().size()) {
    buildMenu();
    return;
  }
  for (size_t i = 0; i < m->items().size(); ++i) {
    QAction* a = menuActions_[i];
    if (!a) continue;
    const app::MenuItem& item = m->items()[i];
    if (a->isCheckable()) {
      a->setChecked(item.checked != 0);
      a->setIcon(QIcon(picture(item.checked ? "check_on" : "check_off", QSize(16, 16))));
    }
    a->setEnabled(item.enabled);
    a->setVisible(item.visible);
  }
}

void FormView::closeEvent(QCloseEvent* e) {
  // The form decides; its unloading takes the view away.
  e->ignore();
  form_->userClose();
}

void FormView::keyPressEvent(QKeyEvent* e) {
  app::Control* target = nullptr;
  if (e->key() == Qt::Key_Escape) target = form_->cancelButton();
  else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) target = form_->defaultButton();
  if (target) {
    target->userClick();
    return;
  }
  QWidget::keyPressEvent(e);
}

}  // namespace qtui
