#include "qelStatsLib/recording_presenter.h"

#include <mutex>

namespace qel {

struct RecordingPresenter::State {
  mutable std::mutex mutex;
  std::vector<PresenterEvent> events;
  std::function<void(const PresenterEvent&)> on_event;
  int windows_loaded = 0;
  int windows_open = 0;
  int process_events_calls = 0;
  int cancel_countdown = 0;  // presses Cancel when it reaches 0 from 1
  bool record_process_events = false;

  void Record(PresenterEvent event) {
    std::function<void(const PresenterEvent&)> callback;
    {
      std::lock_guard lock(mutex);
      events.push_back(event);
      callback = on_event;
    }
    if (callback) callback(event);
  }
};

namespace {

using Kind = PresenterEvent::Kind;

class RecordingWindow final : public ProgressWindow {
 public:
  RecordingWindow(std::shared_ptr<RecordingPresenter::State> state, int number)
      : state_(std::move(state)), number_(number) {}

  ~RecordingWindow() override {
    {
      std::lock_guard lock(state_->mutex);
      --state_->windows_open;
    }
    Record(Kind::kUnload);
  }

  void SetCaption(const std::string& caption) override { Record(Kind::kCaption, caption); }
  void SetStatus(const std::string& text) override { Record(Kind::kStatus, text); }
  void SetBarValue(int value) override { Record(Kind::kBar, {}, value); }
  void ShowTopMost() override { Record(Kind::kShow); }
  void Refresh() override { Record(Kind::kRefresh); }

 private:
  void Record(Kind kind, std::string text = {}, int value = 0) {
    state_->Record(PresenterEvent{kind, std::move(text), value, number_});
  }

  std::shared_ptr<RecordingPresenter::State> state_;
  int number_;
};

}  // namespace

std::string PresenterEvent::ToString() const {
  switch (kind) {
    case Kind::kLoad: return "load";
    case Kind::kCaption: return "caption:" + text;
    case Kind::kStatus: return "status:" + text;
    case Kind::kBar: return "bar:" + std::to_string(value);
    case Kind::kShow: return "show";
    case Kind::kRefresh: return "refresh";
    case Kind::kUnload: return "unload";
    case Kind::kMessage: return "message:" + text;
    case Kind::kProcessEvents: return "events";
  }
  return "?";
}

RecordingPresenter::RecordingPresenter() : state_(std::make_shared<State>()) {}
RecordingPresenter::~RecordingPresenter() = default;

std::unique_ptr<ProgressWindow> RecordingPresenter::LoadProgressWindow() {
  CancelFlag() = false;
  int number;
  {
    std::lock_guard lock(state_->mutex);
    number = ++state_->windows_loaded;
    ++state_->windows_open;
  }
  state_->Record(PresenterEvent{Kind::kLoad, {}, 0, number});
  return std::make_unique<RecordingWindow>(state_, number);
}

void RecordingPresenter::ShowMessage(const std::string& text) {
  state_->Record(PresenterEvent{Kind::kMessage, text, 0, 0});
}

void RecordingPresenter::ProcessEvents() {
  bool press = false, record = false;
  {
    std::lock_guard lock(state_->mutex);
    ++state_->process_events_calls;
    if (state_->cancel_countdown > 0) press = --state_->cancel_countdown == 0;
    record = state_->record_process_events;
  }
  // The click is one of the pending events, so it lands before the run reads the flag.
  if (press) CancelFlag() = true;
  if (record) state_->Record(PresenterEvent{Kind::kProcessEvents, {}, 0, 0});
}

std::vector<PresenterEvent> RecordingPresenter::events() const {
  std::lock_guard lock(state_->mutex);
  return state_->events;
}

std::vector<std::string> RecordingPresenter::EventTexts() const {
  std::vector<std::string> out;
  for (const auto& e : events()) out.push_back(e.ToString());
  return out;
}

std::vector<std::string> RecordingPresenter::messages() const {
  std::vector<std::string> out;
  for (const auto& e : events())
    if (e.kind == Kind::kMessage) out.push_back(e.text);
  return out;
}

std::vector<std::string> RecordingPresenter::statuses() const {
  std::vector<std::string> out;
  for (const auto& e : events())
    if (e.kind == Kind::kStatus) out.push_back(e.text);
  return out;
}

std::vector<int> RecordingPresenter::bar_values() const {
  std::vector<int> out;
  for (const auto& e : events())
    if (e.kind == Kind::kBar) out.push_back(e.value);
  return out;
}

int RecordingPresenter::windows_loaded() const {
  std::lock_guard lock(state_->mutex);
  return state_->windows_loaded;
}

int RecordingPresenter::windows_open() const {
  std::lock_guard lock(state_->mutex);
  return state_->windows_open;
}

int RecordingPresenter::process_events_calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->process_events_calls;
}

void RecordingPresenter::Clear() {
  std::lock_guard lock(state_->mutex);
  state_->events.clear();
  state_->windows_loaded = 0;
  state_->process_events_calls = 0;
}

void RecordingPresenter::RecordProcessEvents(bool on) {
  std::lock_guard lock(state_->mutex);
  state_->record_process_events = on;
}

void RecordingPresenter::PressCancel() { CancelFlag() = true; }

void RecordingPresenter::PressCancelAtCheckpoint(int n) {
  std::lock_guard lock(state_->mutex);
  state_->cancel_countdown = n > 0 ? n : 0;
}

void RecordingPresenter::SetOnEvent(std::function<void(const PresenterEvent&)> callback) {
  std::lock_guard lock(state_->mutex);
  state_->on_event = std::move(callback);
}

}  // namespace qel
