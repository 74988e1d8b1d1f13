// How the library talks to its user while it runs: a progress window per run
// and modal messages. Hosts choose the implementation; the analyses only call
// this interface.
#pragma once

#include <memory>
#include <string>

namespace qel {

// One progress window, created for one run and unloaded (destroyed) at its end.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;  // unloads the window; leaves the cancel flag alone
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetStatus(const std::string& text) = 0;  // the status label
  virtual void SetBarValue(int value) = 0;              // makes the bar visible; 0..99
  virtual void ShowTopMost() = 0;                       // top-most, modeless, not moved or resized
  virtual void Refresh() = 0;                           // repaints the status text and the bar
};

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Creates and loads a new progress window. Loading clears the calling
  // thread's cancel flag.
  virtual std::unique_ptr<ProgressWindow> LoadProgressWindow() = 0;
  // A modal message with an OK button only.
  virtual void ShowMessage(const std::string& text) = 0;
  // Lets the thread's pending window events run (a click on Cancel among them).
  virtual void ProcessEvents() {}
};

// Shows nothing. Loading a window still clears the cancel flag, as any window does.
class SilentPresenter final : public Presenter {
 public:
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override;
  void ShowMessage(const std::string& text) override;
};

// The presenter the calling thread uses, the first of:
//   1. the one installed for the thread (ScopedPresenter),
//   2. the process-wide one (SetProcessPresenter),
//   3. the window system's, when one runs on this thread (see SetWindowPresenterHook),
//   4. the terminal presenter on stderr (see terminal_presenter.h), which draws
//      nothing when stderr is not a terminal.
Presenter& CurrentPresenter();
// Installs the process-wide presenter (not owned; nullptr restores the default).
void SetProcessPresenter(Presenter* presenter);

// A window library (the Qt progress window) registers a hook when it is loaded
// into the process. CurrentPresenter() calls it at every look-up; it returns the
// window presenter when windows can be shown on the calling thread, else nullptr.
// nullptr removes the hook.
using WindowPresenterHook = Presenter* (*)();
void SetWindowPresenterHook(WindowPresenterHook hook);

// Installs a presenter for the calling thread for the lifetime of this object.
class ScopedPresenter {
 public:
  explicit ScopedPresenter(Presenter* presenter);
  ~ScopedPresenter();
  ScopedPresenter(const ScopedPresenter&) = delete;
  ScopedPresenter& operator=(const ScopedPresenter&) = delete;

 private:
  Presenter* previous_;
};

// The calling thread's cancel flag: set by a progress window's Cancel button,
// cleared when a progress window loads.
bool& CancelFlag();

// A run's checkpoint: lets pending window events run, then reads the cancel flag.
bool Checkpoint();

}  // namespace qel
