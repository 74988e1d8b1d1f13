// A presenter that shows nothing and remembers everything: for tests and for
// hosts that want the run's progress and messages as data.
//
// Install it for one thread, run, then read what the run did with its window:
//
//   qel::RecordingPresenter rec;
//   qel::ScopedPresenter use(&rec);
//   univariate.SetshowStatus(true);
//   univariate.Run();
//   // rec.EventTexts() == {"load", "caption:Processing Univariate: Price",
//   //                      "status:Reading Data", "bar:0", "show", "refresh", ...,
//   //                      "unload"}
//
// and to cancel a run at its second checkpoint:
//
//   rec.PressCancelAtCheckpoint(2);
//   bivariate.Run();
//
// All members are safe to call from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qelStatsLib/presenter.h"

namespace qel {

// One thing a run did through the presenter.
struct PresenterEvent {
  enum class Kind {
    kLoad,           // a progress window was created and loaded
    kCaption,        // text: the window caption
    kStatus,         // text: the status label
    kBar,            // value: the bar value (the bar is visible from then on)
    kShow,           // the window was made top-most and shown
    kRefresh,        // the window was repainted
    kUnload,         // the window was unloaded
    kMessage,        // text: a modal message box
    kProcessEvents,  // pending window events ran (recorded only when asked)
  };
  Kind kind;
  std::string text;
  int value = 0;
  int window = 0;  // which window, numbered from 1 in load order; 0 for messages and events

  // "load", "caption:<text>", "status:<text>", "bar:<value>", "show", "refresh",
  // "unload", "message:<text>", "events".
  std::string ToString() const;
  bool operator==(const PresenterEvent&) const = default;
};

class RecordingPresenter final : public Presenter {
 public:
  RecordingPresenter();
  ~RecordingPresenter() override;

  // Loading clears the calling thread's cancel flag, as a real window does.
  // The window may outlive the presenter; what it does then is still recorded.
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override;
  // Records the text and returns at once, as if OK had been pressed.
  void ShowMessage(const std::string& text) override;
  // Counts the call and presses Cancel when PressCancelAtCheckpoint asked for it.
  void ProcessEvents() override;

  // What was recorded, in order.
  std::vector<PresenterEvent> events() const;
  std::vector<std::string> EventTexts() const;  // each event's ToString()
  std::vector<std::string> messages() const;    // message-box texts only
  std::vector<std::string> statuses() const;    // status texts only
  std::vector<int> bar_values() const;          // bar values only
  int windows_loaded() const;                   // windows ever loaded
  int windows_open() const;                     // loaded and not yet unloaded
  int process_events_calls() const;             // ProcessEvents calls (checkpoints)
  // Forgets the events, messages and counts (open windows stay counted).
  void Clear();

  // Also record each ProcessEvents call as an event ("events"). Off by default,
  // so the window sequence of a run with checkpoints reads the same as without.
  void RecordProcessEvents(bool on);

  // Presses Cancel now: sets the calling thread's cancel flag. A window loaded
  // afterwards clears it again, as a real one does.
  void PressCancel();
  // Presses Cancel at the n-th ProcessEvents call from now (n >= 1; 1 is the
  // next one), on the thread that makes that call: the checkpoint that lets
  // events run then reads the flag as set. n <= 0 withdraws the request.
  void PressCancelAtCheckpoint(int n);

  // Called after each event is recorded, on the thread that caused it and
  // without any lock held (it may call back into this presenter, PressCancel
  // included). Replaces an earlier callback; an empty function removes it.
  void SetOnEvent(std::function<void(const PresenterEvent&)> callback);

  struct State;  // shared with the windows this presenter loaded

 private:
  std::shared_ptr<State> state_;
};

}  // namespace qel
