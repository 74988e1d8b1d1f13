#include "qelprogress/qt_presenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QWindow>
#include <algorithm>

#include "qelprogress/frmProgress.h"
#include "qelprogress/modFormModal.h"

namespace qel {

namespace {

// One run's frmProgress. The run drives it; deleting this unloads the window.
class QtProgressWindow final : public ProgressWindow {
 public:
  QtProgressWindow() : form_(new frmProgress) {}
  ~QtProgressWindow() override { delete form_.data(); }

  void SetCaption(const std::string& caption) override {
    if (form_) form_->setWindowTitle(QString::fromStdString(caption));
  }
  void SetStatus(const std::string& text) override {
    if (form_) form_->Label1->setText(QString::fromStdString(text));
  }
  void SetBarValue(int value) override {
    if (!form_) return;
    form_->ProgressBar1->setVisible(true);
    form_->ProgressBar1->setValue(std::clamp(value, 0, 100));
  }
  void ShowTopMost() override {
    if (!form_) return;
    SetWindowPos(form_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    // A run that never lets events run would otherwise show an empty frame
    // until it ends: let the window system map the window once. Clicks stay
    // queued, as they do between a run's checkpoints.
    if (QWindow* handle = form_->windowHandle(); handle && !handle->isExposed())
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Refresh();
  }
  void Refresh() override {
    if (!form_ || !form_->isVisible()) return;
    // Paints now, without the event loop: the run does not return to it.
    form_->Label1->repaint();
    form_->ProgressBar1->repaint();
  }

 private:
  QPointer<frmProgress> form_;
};

}  // namespace

std::unique_ptr<ProgressWindow> QtPresenter::LoadProgressWindow() {
  return std::make_unique<QtProgressWindow>();  // frmProgress clears the cancel flag
}

void QtPresenter::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, MessageTitle(), QString::fromStdString(text), QMessageBox::Ok);
  box.setObjectName(QStringLiteral("qelMessageBox"));
  box.setWindowModality(Qt::ApplicationModal);
  // A run's progress window is top-most: a box below it could be hidden by it.
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

void QtPresenter::ProcessEvents() { QCoreApplication::processEvents(); }

QString QtPresenter::MessageTitle() { return QStringLiteral("qelStatsLib"); }

Presenter* QtPresenterForThisThread() {
  // Widgets exist only with a QApplication (not a QCoreApplication or a
  // QGuiApplication) and only on the thread it runs on.
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || QThread::currentThread() != app->thread()) return nullptr;
  static QtPresenter presenter;
  return &presenter;
}

void InstallQtPresenterHook() { SetWindowPresenterHook(&QtPresenterForThisThread); }

namespace {

// Registers the hook when the library is loaded, and withdraws it when the
// library is unloaded so CurrentPresenter() never calls into unmapped code.
struct HookRegistration {
  HookRegistration() { InstallQtPresenterHook(); }
  ~HookRegistration() { SetWindowPresenterHook(nullptr); }
};
const HookRegistration registration;

}  // namespace

}  // namespace qel
