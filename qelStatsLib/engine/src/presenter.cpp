#include "qelStatsLib/presenter.h"

#include <atomic>

#include "qelStatsLib/terminal_presenter.h"

namespace qel {

namespace {

class SilentWindow final : public ProgressWindow {
 public:
  void SetCaption(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void SetBarValue(int) override {}
  void ShowTopMost() override {}
  void Refresh() override {}
};

std::atomic<Presenter*> g_process_presenter{nullptr};
std::atomic<WindowPresenterHook> g_window_hook{nullptr};
thread_local Presenter* t_thread_presenter = nullptr;
thread_local bool t_cancel = false;

}  // namespace

std::unique_ptr<ProgressWindow> SilentPresenter::LoadProgressWindow() {
  CancelFlag() = false;
  return std::make_unique<SilentWindow>();
}

void SilentPresenter::ShowMessage(const std::string&) {}

Presenter& CurrentPresenter() {
  if (t_thread_presenter) return *t_thread_presenter;
  if (Presenter* p = g_process_presenter.load()) return *p;
  if (WindowPresenterHook hook = g_window_hook.load()) {
    if (Presenter* p = hook()) return *p;
  }
  // Never destroyed: a run on another thread may still be drawing while the
  // process exits, and the presenter holds no resource worth releasing.
  static TerminalPresenter* const terminal = new TerminalPresenter();
  return *terminal;
}

void SetProcessPresenter(Presenter* presenter) { g_process_presenter.store(presenter); }

void SetWindowPresenterHook(WindowPresenterHook hook) { g_window_hook.store(hook); }

ScopedPresenter::ScopedPresenter(Presenter* presenter) : previous_(t_thread_presenter) {
  t_thread_presenter = presenter;
}
ScopedPresenter::~ScopedPresenter() { t_thread_presenter = previous_; }

bool& CancelFlag() { return t_cancel; }

bool Checkpoint() {
  CurrentPresenter().ProcessEvents();
  return CancelFlag();
}

}  // namespace qel
