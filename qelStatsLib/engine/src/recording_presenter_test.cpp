#include "qelStatsLib/recording_presenter.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qel {
namespace {

using Texts = std::vector<std::string>;

TEST(RecordingPresenter, RecordsEachWindowFromLoadToUnload) {
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  CancelFlag() = true;
  {
    auto window = CurrentPresenter().LoadProgressWindow();
    EXPECT_FALSE(CancelFlag()) << "loading a window clears the cancel flag";
    window->SetCaption("Processing Univariate: Price");
    window->SetStatus("Reading Data");
    window->SetBarValue(0);
    window->ShowTopMost();
    window->Refresh();
    EXPECT_EQ(rec.windows_open(), 1);
    CancelFlag() = true;
  }
  EXPECT_TRUE(CancelFlag()) << "unloading leaves the flag alone";
  // A second run gets a window of its own.
  CurrentPresenter().LoadProgressWindow()->SetStatus("again");
  CurrentPresenter().ShowMessage("Error: Bad Parameter");

  EXPECT_EQ(rec.EventTexts(), (Texts{"load", "caption:Processing Univariate: Price", "status:Reading Data", "bar:0",
                                     "show", "refresh", "unload", "load", "status:again", "unload",
                                     "message:Error: Bad Parameter"}));
  EXPECT_EQ(rec.events()[7].window, 2);
  EXPECT_EQ(rec.events()[10].window, 0);
  EXPECT_EQ(rec.windows_loaded(), 2);
  EXPECT_EQ(rec.windows_open(), 0);
  EXPECT_EQ(rec.messages(), Texts{"Error: Bad Parameter"});
  EXPECT_EQ(rec.statuses(), (Texts{"Reading Data", "again"}));
  EXPECT_EQ(rec.bar_values(), std::vector<int>{0});
  CancelFlag() = false;
}

TEST(RecordingPresenter, CancelLandsAtTheRequestedCheckpoint) {
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  auto window = rec.LoadProgressWindow();
  rec.PressCancelAtCheckpoint(3);
  EXPECT_FALSE(Checkpoint());
  EXPECT_FALSE(Checkpoint());
  EXPECT_TRUE(Checkpoint());
  EXPECT_EQ(rec.process_events_calls(), 3);
  EXPECT_EQ(rec.EventTexts(), Texts{"load"}) << "checkpoints stay out of the sequence unless asked";

  // A press before a window loads is undone by the load, as with a real window.
  rec.PressCancel();
  EXPECT_TRUE(CancelFlag());
  auto second = rec.LoadProgressWindow();
  EXPECT_FALSE(CancelFlag());

  rec.RecordProcessEvents(true);
  rec.PressCancelAtCheckpoint(1);
  rec.PressCancelAtCheckpoint(0);  // withdrawn
  EXPECT_FALSE(Checkpoint());
  EXPECT_EQ(rec.EventTexts().back(), "events");
}

TEST(RecordingPresenter, CallbackCanPressCancelWhenAPhaseStarts) {
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  rec.SetOnEvent([&rec](const PresenterEvent& e) {
    if (e.kind == PresenterEvent::Kind::kStatus && e.text == "Sorting Data") rec.PressCancel();
  });
  auto window = rec.LoadProgressWindow();
  window->SetStatus("Reading Data");
  EXPECT_FALSE(Checkpoint());
  window->SetStatus("Sorting Data");
  EXPECT_TRUE(Checkpoint());
  CancelFlag() = false;
}

TEST(RecordingPresenter, CancelFlagIsPerThreadAndWindowsMayOutliveThePresenter) {
  std::unique_ptr<ProgressWindow> window;
  {
    RecordingPresenter rec;
    SetProcessPresenter(&rec);
    CancelFlag() = true;
    // A run on another thread loads its own window: only that thread's flag clears.
    std::thread([&] {
      CancelFlag() = true;
      auto w = CurrentPresenter().LoadProgressWindow();
      EXPECT_FALSE(CancelFlag());
    }).join();
    EXPECT_TRUE(CancelFlag());
    window = rec.LoadProgressWindow();
    SetProcessPresenter(nullptr);
    EXPECT_EQ(rec.windows_loaded(), 2);
  }
  window->SetStatus("late");  // the presenter is gone; this must not crash
  window.reset();
  CancelFlag() = false;
}

}  // namespace
}  // namespace qel
