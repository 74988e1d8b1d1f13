// The library's windows in a Qt program: frmProgress for a run's progress and
// a modal QMessageBox with an OK button for its messages.
//
// Linking this library is all a host needs: when it is loaded it registers a
// hook with qel::CurrentPresenter(), which then hands out the QtPresenter on a
// thread where a QApplication runs (its main thread), and falls back to the
// terminal presenter elsewhere (worker threads, programs without a
// QApplication). A presenter installed with ScopedPresenter or
// SetProcessPresenter still takes precedence.
#pragma once

#include <memory>
#include <string>

#include <QString>

#include "qelStatsLib/presenter.h"

namespace qel {

class QtPresenter final : public Presenter {
 public:
  // Creates and loads a new frmProgress (hidden until ShowTopMost). Clears the
  // calling thread's cancel flag. Destroying the returned window unloads it.
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override;
  // An application-modal box with the text and an OK button only; returns
  // when the user presses OK. It stays above a top-most progress window.
  void ShowMessage(const std::string& text) override;
  // QCoreApplication::processEvents(): a click on Cancel lands here.
  void ProcessEvents() override;

  // The title of the library's message boxes.
  static QString MessageTitle();
};

// The presenter of the process's QApplication when the calling thread is the
// one it runs on, else nullptr. This is the hook CurrentPresenter() calls.
Presenter* QtPresenterForThisThread();

// Registers QtPresenterForThisThread with CurrentPresenter(). Loading the
// library does this already; call it again after SetWindowPresenterHook(nullptr).
void InstallQtPresenterHook();

}  // namespace qel
