#include "qelStatsLib/presenter.h"

#include <gtest/gtest.h>

#include "qelStatsLib/recording_presenter.h"
#include "qelStatsLib/terminal_presenter.h"

namespace qel {
namespace {

RecordingPresenter g_window_system;
bool g_windows_here = true;
Presenter* WindowHook() { return g_windows_here ? &g_window_system : nullptr; }

TEST(CurrentPresenter, ThreadThenProcessThenWindowSystemThenTerminal) {
  EXPECT_NE(dynamic_cast<TerminalPresenter*>(&CurrentPresenter()), nullptr) << "the default draws on stderr";

  SetWindowPresenterHook(&WindowHook);
  EXPECT_EQ(&CurrentPresenter(), &g_window_system);
  g_windows_here = false;  // e.g. a worker thread of a window program
  EXPECT_NE(dynamic_cast<TerminalPresenter*>(&CurrentPresenter()), nullptr);
  g_windows_here = true;

  RecordingPresenter process, thread;
  SetProcessPresenter(&process);
  EXPECT_EQ(&CurrentPresenter(), &process);
  {
    ScopedPresenter outer(&thread);
    EXPECT_EQ(&CurrentPresenter(), &thread);
    {
      SilentPresenter silent;
      ScopedPresenter inner(&silent);
      EXPECT_EQ(&CurrentPresenter(), &silent);
    }
    EXPECT_EQ(&CurrentPresenter(), &thread);
  }
  SetProcessPresenter(nullptr);
  EXPECT_EQ(&CurrentPresenter(), &g_window_system);
  SetWindowPresenterHook(nullptr);
  EXPECT_NE(dynamic_cast<TerminalPresenter*>(&CurrentPresenter()), nullptr);
}

TEST(SilentPresenter, LoadingClearsTheCancelFlag) {
  SilentPresenter silent;
  CancelFlag() = true;
  auto window = silent.LoadProgressWindow();
  EXPECT_FALSE(CancelFlag());
  window->ShowTopMost();
  CancelFlag() = true;
  window.reset();
  EXPECT_TRUE(CancelFlag());
  CancelFlag() = false;
}

}  // namespace
}  // namespace qel
