// Watches the progress windows of the application while a run drives them:
// every time a window's bar is painted, what the window showed at that moment.
// The run never returns to the event loop, so paints are the only moments a
// user can see, and the only ones worth checking.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <set>
#include <vector>

namespace qel {

struct WindowShot {
  QString caption;
  QString status;
  int bar = 0;
  QString bar_text;
  bool top_most = false;
  bool modal = false;
  bool operator==(const WindowShot&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const WindowShot& s) {
  return os << "{" << s.caption.toStdString() << " | " << s.status.toStdString() << " | " << s.bar << " "
            << s.bar_text.toStdString() << (s.top_most ? " top-most" : "") << (s.modal ? " modal" : "") << "}";
}

class WindowSpy : public QObject {
 public:
  WindowSpy() { qApp->installEventFilter(this); }
  ~WindowSpy() override { qApp->removeEventFilter(this); }

  // What was painted, with repeats of the same picture dropped.
  const std::vector<WindowShot>& shots() const { return shots_; }
  // How many distinct progress windows were painted.
  std::size_t windows() const { return forms_.size(); }

  static int OpenProgressWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "frmProgress") ++n;
    return n;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->objectName() == "ProgressBar1") {
      auto* bar = static_cast<QProgressBar*>(watched);
      QWidget* form = bar->window();
      auto* label = form->findChild<QLabel*>("Label1");
      WindowShot shot{form->windowTitle(), label ? label->text() : QString(), bar->value(), bar->text(),
                      form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), form->isModal()};
      forms_.insert(form);
      if (shots_.empty() || !(shots_.back() == shot)) shots_.push_back(shot);
    }
    return false;
  }

 private:
  std::vector<WindowShot> shots_;
  std::set<const QWidget*> forms_;
};

}  // namespace qel
