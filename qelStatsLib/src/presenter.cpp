#include "qelStatsLib/presenter.h"

#include <atomic>

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

// Shows nothing; loading a window still clears the cancel flag, as any window does.
class SilentPresenter final : public Presenter {
 public:
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override {
    CancelFlag() = false;
    return std::make_unique<SilentWindow>();
  }
  void ShowMessage(const std::string&) override {}
};

std::atomic<Presenter*> g_process_presenter{nullptr};
thread_local Presenter* t_thread_presenter = nullptr;
thread_local bool t_cancel = false;

}  // namespace

Presenter& CurrentPresenter() {
  if (t_thread_presenter) return *t_thread_presenter;
  if (Presenter* p = g_process_presenter.load()) return *p;
  static SilentPresenter silent;
  return silent;
}

void SetProcessPresenter(Presenter* presenter) { g_process_presenter.store(presenter); }

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
