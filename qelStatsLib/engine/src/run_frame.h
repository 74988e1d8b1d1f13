// What the univariate, outlier and bivariate runs share around their tally
// and finish: the progress window, and every error turned into the reason the
// run stopped.
#pragma once

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "qelStatsLib/presenter.h"
#include "qelStatsLib/tally.h"
#include "qeldata/error.h"

namespace qel {

// A run's progress window, when it shows one; every call but Open does
// nothing when it does not.
class RunProgress {
 public:
  // Loads and shows the window: `caption`, the status `status`, an empty bar.
  void Open(const std::string& caption, const char* status) {
    window_ = CurrentPresenter().LoadProgressWindow();
    window_->SetCaption(caption);
    window_->SetStatus(status);
    window_->SetBarValue(0);
    window_->ShowTopMost();
    window_->Refresh();
  }
  void Status(const char* text) {
    if (!window_) return;
    window_->SetStatus(text);
    window_->Refresh();
  }
  void Bar(int value) {
    if (!window_) return;
    window_->SetBarValue(value);
    window_->Refresh();
  }
  // A new phase: its status and the bar's position, repainted once.
  void Phase(const char* status, int bar) {
    if (!window_) return;
    window_->SetStatus(status);
    window_->SetBarValue(bar);
    window_->Refresh();
  }
  void Unload() { window_.reset(); }

 private:
  std::unique_ptr<ProgressWindow> window_;
};

// How a run words the errors that carry no text of their own.
struct StopTexts {
  const char* unexpected;                         // anything thrown without a text
  std::string (*overflow)(const TallyOverflow&);  // a tally's sum past the range of a double
};

// Runs `body`; every error it throws becomes `reason` (a data-layer error's
// description, any other exception's text, never empty) and the result a
// value-initialised one (false, nullptr, ...).
template <typename Body>
auto GuardRun(std::string& reason, const StopTexts& texts, Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const qeldata::Error& e) {
    reason = e.description();
  } catch (const TallyOverflow& e) {
    reason = texts.overflow(e);
  } catch (const std::bad_alloc&) {
    reason = "Out of memory";
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = texts.unexpected;
  }
  if (reason.empty()) reason = texts.unexpected;
  return {};
}

}  // namespace qel
